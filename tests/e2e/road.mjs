// The whole booking road in a real browser, through lighttpd, on a fresh
// install with the demonstration centre:
//   register a new user, log in, choose a resource and a date, see the week
//   grid, book a slot, be refused a second booking of it, see the booking in
//   own reservations with the balance, cancel it, change the password, log
//   out, be refused the old password, log in with the new one.
// Every page is screenshotted under BUILD/e2e-screens/NAME, and must show no
// console error and no link that answers 404 or 500.
//
//   node road.mjs --build BUILD --source SOURCE --lang Fin|Eng [--pg]
import fs from 'node:fs';
import path from 'node:path';
import { args, installSite, pgFromEnv, startServer } from './lib/site.mjs';
import { openBrowser, Road } from './lib/browser.mjs';

const opt = args();
const lang = opt.lang === 'Eng' ? 'Eng' : 'Fin';
const backend = opt.pg ? 'pg' : 'sqlite';
const name = `road-${lang.toLowerCase()}-${backend}`;

// The texts the road expects, by key: the Finnish defaults, or the English
// texts the site installs.
function texts() {
  const fin = {
    C03: 'Omat varaukset',
    C06: 'Kirjaudu ulos',
    C19: 'Hakutoiminnassa tapahtui virhe. Yritä kohta uudelleen,tarkista hakuehdot!',
    C20: 'Varaus on jo olemassa tälle vuorolle!',
    C45: 'Saldo',
    C50: 'Poista varaus',
  };
  if (lang === 'Fin') return fin;
  const eng = {};
  for (const line of fs.readFileSync(path.join(opt.source, 'site', 'texts', 'eng.tsv'), 'utf8').split('\n')) {
    const [l, key, text] = line.replace(/\r$/, '').split('\t');
    if (l === 'ENG' && key) eng[key] = text;
  }
  for (const k of Object.keys(fin)) if (!eng[k]) throw new Error(`eng.tsv has no text for ${k}`);
  return eng;
}

const T = texts();
const started = Date.now();
const site = installSite({ build: opt.build, source: opt.source, name, pg: opt.pg ? pgFromEnv() : null });
const server = await startServer(site);
console.log(`${name}: ${server.url} serving ${site.prefix}`);
const context = await openBrowser(path.join(site.prefix, 'chromium-profile'));
const road = new Road(context, { origin: server.url, shotDir: path.join(opt.build, 'e2e-screens', name) });
const page = await road.newPage();
const text = async () => (await page.textContent('body')).replace(/\s+/g, ' ');
const cgi = '/cgi-bin/WebOrvane.exe';

const suffix = `${Date.now() % 100000}`;
const user = { tunnus: `e2e${lang.toLowerCase()}${suffix}`.slice(0, 15), old: 'vanha-Sana1', fresh: 'uusi-Sana2' };

try {
  // Start page, registration.
  await road.goto(`${cgi}/Index?Lang=${lang}`);
  await road.visit('start-page');
  await road.click(`a[href*="/Regin?ID=0"]`);
  await road.visit('registration-form');
  await page.fill('input[name="Tunnus"]', user.tunnus);
  await page.fill('input[name="Koodi"]', user.old);
  await page.fill('input[name="ENimi"]', 'Eetu');
  await page.fill('input[name="SNimi"]', lang === 'Fin' ? 'Päätalo' : 'Endtoend');
  await page.fill('input[name="Os01"]', 'Rantatie 5');
  await page.fill('input[name="Os02"]', '00100');
  await page.fill('input[name="Os03"]', 'Helsinki');
  await page.fill('input[name="EMail"]', 'eetu@example.org');
  await page.fill('input[name="Puh"]', '040 123 4567');
  await road.click('input[name="Toim"]');
  road.expect(/\/regok\?/i.test(page.url()), 'registration did not reach the confirmation page');
  await road.visit('registered');

  // Log in through the login form.
  await road.goto(`${cgi}/Login?Lang=${lang}`);
  await road.visit('login-form');
  await page.fill('input[name="Tunnus"]', user.tunnus);
  await page.fill('input[name="Koodi"]', user.old);
  await road.click('form[action$="/ChkLogin"] [type="submit"]');
  road.expect(/\/resval\?ID=\w{17,}/i.test(page.url()), 'login did not lead to the resource selection with a session');
  await road.visit('resource-selection');
  road.expect((await text()).includes(T.C06), `the logged-in menu ("${T.C06}") is missing`);

  // Choose a resource and tomorrow; the first resource with a free slot in
  // its week grid is taken.
  const tomorrow = new Date(Date.now() + 24 * 3600 * 1000);
  const resources = await page.$$eval('select[name="Resurssi"] option', (os) => os.map((o) => o.value));
  road.expect(resources.length > 0, 'no resources to choose from');
  let bookingLink = null;
  for (const res of resources) {
    if (!page.url().includes('/resval') && !page.url().includes('/ResVal')) {
      await page.goBack({ waitUntil: 'load' });
    }
    await page.selectOption('select[name="Resurssi"]', res);
    await page.selectOption('select[name="PP"]', String(tomorrow.getDate()));
    await page.selectOption('select[name="KK"]', String(tomorrow.getMonth() + 1));
    await page.selectOption('select[name="VV"]', String(tomorrow.getFullYear()));
    await road.click('form[action$="/Viikko"] [type="submit"]');
    await road.visit(`week-grid-${res.trim()}`);
    const grid = await page.$$eval('table.slots th', (ths) => ths.map((t) => t.textContent));
    road.expect(grid.some((t) => /\d\d\.\d\d\.\d{4}/.test(t)), 'the week grid shows no day columns');
    const links = await page.$$eval('table.slots a[href*="/Varaa?"]', (as) => as.map((a) => a.getAttribute('href')));
    if (links.length > 0) {
      bookingLink = links[0];
      break;
    }
  }
  road.expect(bookingLink, 'no resource has a bookable slot in the coming week');

  // Book the slot.
  await road.click(`table.slots a[href="${bookingLink}"]`);
  await road.visit('confirm-reservation');
  const reservation = (await page.textContent('.reservation')).trim();
  road.expect(/\d\d\.\d\d\.\d{4} \d\d:\d\d - \d\d:\d\d/.test(reservation), `the confirmation describes no slot: "${reservation}"`);
  const confirmUrl = page.url();
  await road.click('form[action$="/Var"] [type="submit"]');
  road.expect(/\/VarOk\?/i.test(page.url()), 'the booking did not reach the success page');
  await road.visit('booked');

  // A second booking of the same slot is refused with its message.
  await road.goto(confirmUrl);
  await road.visit('confirm-again');
  await road.click('form[action$="/Var"] [type="submit"]');
  await road.visit('refused-booking');
  road.expect((await text()).includes(T.C20), `the refusal does not say "${T.C20}"`);

  // Own reservations with the balance: the demo charges a fee of 2.00.
  await road.click(`a[href*="/Omat?"]`);
  await road.visit('own-reservations');
  const own = await text();
  const when = reservation.match(/\d\d\.\d\d\.\d{4} \d\d:\d\d/)[0];
  road.expect(own.includes(when), `own reservations do not list the booking of ${when}`);
  road.expect(own.includes(T.C45), `own reservations show no balance row ("${T.C45}")`);
  road.expect(/-2\.00 EUR/.test(own), 'the balance is not -2.00 EUR after one booking');

  // Cancel it: the fee comes back.
  await road.click(`a[href*="/Poista?"]`);
  await road.visit('confirm-cancellation');
  await road.click('form[action$="/PoisVar"] [type="submit"]');
  road.expect(/\/PoisOk\?/i.test(page.url()), 'the cancellation did not reach its success page');
  await road.visit('cancelled');
  await road.click(`a[href*="/Omat?"]`);
  await road.visit('own-reservations-after-cancel');
  const after = await text();
  road.expect(!after.includes(when), 'the cancelled booking is still listed');
  road.expect(/ 0\.00 EUR/.test(after), 'the balance is not back at 0.00 EUR');

  // Change the password.
  await road.click(`a[href*="/Vaihda?"]`);
  await road.visit('password-form');
  await page.fill('input[name="Koodi"]', user.old);
  await page.fill('input[name="UKoodi"]', user.fresh);
  await road.click('form[action$="/VaihdaSana"] [type="submit"]');
  road.expect(/\/VaihdaOk\?/i.test(page.url()), 'the password change did not reach its confirmation');
  await road.visit('password-changed');

  // Log out.
  await road.click(`a[href*="/LogOut?"]`);
  road.expect(/\/index\?/i.test(page.url()), 'logout did not lead to the start page');
  await road.visit('logged-out');
  road.expect(!(await text()).includes(T.C06), 'the page still shows the logged-in menu');

  // The old password no longer works, the new one does.
  await road.goto(`${cgi}/Login?Lang=${lang}`);
  await page.fill('input[name="Tunnus"]', user.tunnus);
  await page.fill('input[name="Koodi"]', user.old);
  await road.click('form[action$="/ChkLogin"] [type="submit"]');
  await road.visit('old-password-refused');
  road.expect((await text()).includes(T.C19), 'the old password was not refused');
  await road.goto(`${cgi}/Login?Lang=${lang}`);
  await page.fill('input[name="Tunnus"]', user.tunnus);
  await page.fill('input[name="Koodi"]', user.fresh);
  await road.click('form[action$="/ChkLogin"] [type="submit"]');
  road.expect(/\/resval\?ID=\w{17,}/i.test(page.url()), 'login with the new password failed');
  await road.visit('logged-in-with-new-password');
  road.expect((await text()).includes(T.C03), `the logged-in menu ("${T.C03}") is missing`);
} catch (e) {
  try {
    await page.screenshot({ path: path.join(road.shotDir, 'failure.png'), fullPage: true });
  } catch { /* the page may be gone */ }
  road.problems.push(`road stopped: ${e.message}`);
}

await context.close();
await server.stop();
const secs = ((Date.now() - started) / 1000).toFixed(1);
if (road.problems.length > 0) {
  console.log(`${name}: FAILED after ${road.step} pages, ${secs} s; screenshots in ${road.shotDir}`);
  for (const p of road.problems) console.log(`  - ${p}`);
  process.exit(1);
}
console.log(`${name}: ${road.step} pages checked (${road.checkedLinks.size} links) in ${secs} s; screenshots in ${road.shotDir}`);
