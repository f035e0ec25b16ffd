// The whole booking road in a real browser, through lighttpd, on a fresh
// install with the demonstration centre:
//   come in through the site's entry page, register a new user, log in,
//   choose a resource and a date, see the week grid, book a slot, be
//   refused a second booking of it, see the booking in own reservations
//   with the balance, cancel it, switch the language and back and go home
//   without losing the session, see own details, see a week of fixed-time
//   slots and its confirmation page, change the password, log out, be
//   refused the old password, log in with the new one.
// Every page is screenshotted under BUILD/e2e-screens/NAME, and must show no
// console error, no link that answers 404 or 500 and no violation of the
// WCAG 2.1 A and AA rules; on a phone's screen no page scrolls sideways and
// the week shows all its days within the screen.
//
//   node road.mjs --build BUILD --source SOURCE --lang Fin|Eng [--pg] [--screen 390x844]
import fs from 'node:fs';
import path from 'node:path';
import { args, installSite, pgFromEnv, startServer } from './lib/site.mjs';
import { openBrowser, parseScreen, Road } from './lib/browser.mjs';

const opt = args();
const lang = opt.lang === 'Eng' ? 'Eng' : 'Fin';
const other = lang === 'Fin' ? 'Eng' : 'Fin';
const backend = opt.pg ? 'pg' : 'sqlite';
const screen = parseScreen(opt.screen);
const name = `road-${lang.toLowerCase()}-${backend}-${screen.name}`;

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
    C66: 'Peruttavissa viimeistään',
    C68: 'Avoimet varaukset',
    C73: 'Käyttäjätunnus tai salasana on väärä. Tarkista ne ja yritä uudelleen.',
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
const context = await openBrowser(path.join(site.prefix, 'chromium-profile'), screen);
const road = new Road(context, { origin: server.url, shotDir: path.join(opt.build, 'e2e-screens', name), phone: screen.phone });
const page = await road.newPage();
const text = async () => (await page.textContent('body')).replace(/\s+/g, ' ');
const cgi = '/cgi-bin/WebOrvane.exe';

const visible = async (selector) => page.locator(selector).first().isVisible();
const sessionOf = () => new URL(page.url()).searchParams.get('ID');

// On a phone every day of the week and every slot lie within the screen,
// and neither the page nor the grid scrolls sideways.
async function expectWholeWeek() {
  if (!screen.phone) return;
  const fit = await page.evaluate(() => {
    const width = document.documentElement.clientWidth;
    const outside = (el) => {
      const r = el.getBoundingClientRect();
      return r.width === 0 || r.left < 0 || r.right > width + 0.5;
    };
    const days = [...document.querySelectorAll('table.slots th')].filter((th) => /\d\d\.\d\d\.\d{4}/.test(th.textContent));
    const grid = document.querySelector('table.slots').parentElement;
    return {
      scroll: document.documentElement.scrollWidth, width, days: days.length,
      gridOverflow: grid.scrollWidth - grid.clientWidth,
      outside: [...days, ...document.querySelectorAll('table.slots a')].filter(outside).map((e) => e.textContent.trim()),
    };
  });
  road.expect(fit.scroll === fit.width, `the week page is ${fit.scroll} px wide on a screen of ${fit.width} px`);
  road.expect(fit.gridOverflow <= 0, `the week grid scrolls sideways by ${fit.gridOverflow} px`);
  road.expect(fit.days === 7, `the week shows ${fit.days} days, not 7`);
  road.expect(fit.outside.length === 0, `outside the screen: ${fit.outside.slice(0, 5).join(', ')}`);
}

const suffix = `${Date.now() % 100000}`;
const user = { tunnus: `e2e${lang.toLowerCase()}${suffix}`.slice(0, 15), old: 'vanha-Sana1', fresh: 'uusi-Sana2' };

try {
  // The site's entry page, the start page, registration.
  await road.goto('/');
  await road.visit('entry-page');
  await road.click(`a[href="${cgi}/Index?Lang=${lang}"]`);
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
    await expectWholeWeek();
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
  // A logged-in user is led on to the times and own reservations, not to
  // the login.
  road.expect(await visible('main a[href*="/Omat?"]'), 'the refusal offers no way to own reservations');
  road.expect(!(await visible('main a[href*="/Login?"]')), 'the refusal offers a logged-in user to log in');

  // Own reservations with the balance: the demo charges a fee of 2.00.
  await road.click(`a[href*="/Omat?"]`);
  await road.visit('own-reservations');
  const own = await text();
  const when = reservation.match(/\d\d\.\d\d\.\d{4} \d\d:\d\d/)[0];
  road.expect(own.includes(when), `own reservations do not list the booking of ${when}`);
  road.expect(own.includes(T.C45), `own reservations show no balance row ("${T.C45}")`);
  road.expect(/-2\.00 EUR/.test(own), 'the balance is not -2.00 EUR after one booking');
  // The site shows each booking's deadline and the user's limits.
  road.expect(own.includes(T.C66), `own reservations say nothing of until when ("${T.C66}")`);
  road.expect(new RegExp(`${T.C68}\\s*1 / \\d`).test(own), `own reservations do not count one open booking ("${T.C68}")`);

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

  // The language switch and the home link keep the session.
  const session = sessionOf();
  const pageLang = () => page.getAttribute('html', 'lang');
  await road.click('.lang-switch a');
  await road.visit('language-switched');
  road.expect(sessionOf() === session && new URL(page.url()).searchParams.get('Lang') === other,
    `the language switch did not lead to ${other} with the session`);
  road.expect(await pageLang() === (other === 'Eng' ? 'en' : 'fi'), 'the switched page is not in the other language');
  road.expect(await visible('a[href*="/LogOut?"]'), 'the switched page shows no logged-in menu');
  await road.click('.lang-switch a');
  road.expect(sessionOf() === session && await pageLang() === (lang === 'Eng' ? 'en' : 'fi'),
    'switching back lost the session or the language');
  await road.click('a.brand');
  await road.visit('home');
  road.expect(sessionOf() === session && await visible('a[href*="/LogOut?"]'), 'the home link lost the session');

  // Own details, then a week of fixed-time slots (one row per hour) and the
  // confirmation of one of them, which offers the web codes.
  await road.click(`a[href*="/Regin?ID=${session}"]`);
  await road.visit('own-details');
  await road.click('a[href*="/Resval?"]');
  let fixedTimes = false;
  for (const res of resources) {
    if (!/\/resval\?/i.test(page.url())) await road.click('a[href*="/Resval?"]');
    await page.selectOption('select[name="Resurssi"]', res);
    await road.click('form[action$="/Viikko"] [type="submit"]');
    // A fixed-time cell breaks a line only within its time (shown on a
    // phone, where the time column is not).
    const hours = await page.$$eval('table.slots td + td', (tds) =>
      tds.length > 0 && tds.every((td) => [...td.querySelectorAll('br')].every((br) => br.closest('.slot-time'))) &&
      tds.some((td) => td.querySelector('a')));
    if (!hours) continue;
    await road.visit(`week-of-hours-${res.trim()}`);
    await expectWholeWeek();
    await road.click('table.slots a[href*="/Varaa?"]');
    await road.visit('confirm-fixed-time');
    fixedTimes = true;
    break;
  }
  road.expect(fixedTimes, 'no resource shows a week of fixed-time slots to book');

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
  road.expect((await text()).includes(T.C73), 'the old password was not refused as a wrong one');
  await road.goto(`${cgi}/Login?Lang=${lang}`);
  await page.fill('input[name="Tunnus"]', user.tunnus);
  await page.fill('input[name="Koodi"]', user.fresh);
  await road.click('form[action$="/ChkLogin"] [type="submit"]');
  road.expect(/\/resval\?ID=\w{17,}/i.test(page.url()), 'login with the new password failed');
  await road.visit('logged-in-with-new-password');
  road.expect((await text()).includes(T.C03), `the logged-in menu ("${T.C03}") is missing`);
} catch (e) {
  await road.stopped(e);
}

await context.close();
await server.stop();
road.report(name, started);
