// A waiting list in a real browser, through lighttpd, on a fresh install
// with the demonstration centre (SQLite):
//   the demonstration user logs in, finds a full slot in a week grid and
//   joins its line, and own reservations show the place in line; the
//   desktop system then raises the slot's places (straight in the
//   database) and the scheduled run offers the place; own reservations
//   and the grid show the offer, the user books it through the ordinary
//   confirmation and sees the booking in own reservations.
// Every page gets the checks of lib/browser.mjs.
//
//   node waitlist.mjs --build BUILD --source SOURCE
import path from 'node:path';
import { args, installSite, run, startServer } from './lib/site.mjs';
import { openBrowser, parseScreen, Road } from './lib/browser.mjs';

const opt = args();
const name = 'waitlist-fin';
const cgi = '/cgi-bin/WebOrvane.exe';
const T = { C96: 'Jonossa, sija', C98: 'Vapautunut paikka on tarjolla sinulle asti' };

// The desktop system adds a place to slot (kau, vuo, seq) of the site's
// database.
function raisePlaces(site, { kau, vuo, seq }) {
  const db = path.join(site.prefix, 'data', 'VELMORI.db');
  const sql = "UPDATE VaVuoro SET Maara = Maara + 1 WHERE coalesce(Kausi, '') = ? AND trim(VuoroNo) = ? AND trim(VuoroNoSeq) = ?";
  const py = 'import sqlite3, sys\nc = sqlite3.connect(sys.argv[1])\n' +
    'n = c.execute(sys.argv[2], sys.argv[3:]).rowcount\nc.commit()\nprint(n)';
  return run('/usr/bin/python3', ['-c', py, db, sql, kau, vuo, seq]).trim();
}

const started = Date.now();
const site = installSite({ build: opt.build, source: opt.source, name });
const server = await startServer(site);
console.log(`${name}: ${server.url} serving ${site.prefix}`);
const context = await openBrowser(path.join(site.prefix, 'chromium-profile'), parseScreen());
const road = new Road(context, { origin: server.url, shotDir: path.join(opt.build, 'e2e-screens', name) });
const page = await road.newPage();
const text = async () => (await page.textContent('main')).replace(/\s+/g, ' ');

try {
  await road.goto(`${cgi}/Login?Lang=Fin`);
  await page.fill('input[name="Tunnus"]', 'demo');
  await page.fill('input[name="Koodi"]', 'demo1234');
  await road.click('form[action$="/ChkLogin"] [type="submit"]');
  road.expect(/\/resval\?ID=\w{17,}/i.test(page.url()), 'the demonstration user could not log in');
  const resval = page.url();

  // The first resource whose week from tomorrow has a full slot to join.
  const tomorrow = new Date(Date.now() + 24 * 3600 * 1000);
  const resources = await page.$$eval('select[name="Resurssi"] option', (os) => os.map((o) => o.value));
  let join = null;
  let week = null;
  for (const res of resources) {
    await road.goto(resval);
    await page.selectOption('select[name="Resurssi"]', res);
    await page.selectOption('select[name="PP"]', String(tomorrow.getDate()));
    await page.selectOption('select[name="KK"]', String(tomorrow.getMonth() + 1));
    await page.selectOption('select[name="VV"]', String(tomorrow.getFullYear()));
    await road.click('form[action$="/Viikko"] [type="submit"]');
    const links = await page.$$eval('table.slots td.slot-full a[href*="/Jono?"]', (as) => as.map((a) => a.getAttribute('href')));
    if (links.length > 0) {
      join = links[0];
      week = page.url();
      break;
    }
  }
  road.expect(join, 'no week grid shows a full slot to join');
  await road.visit('full-slot-to-join');
  const q = new URL(join, server.url).searchParams;
  const slot = { kau: q.get('Kau'), vuo: q.get('Vuo'), seq: q.get('Seq') };

  await road.click(`table.slots a[href="${join}"]`);
  road.expect(/\/Omat\?/i.test(page.url()), 'joining did not lead to own reservations');
  await road.visit('joined');
  road.expect((await text()).includes(`${T.C96} 1`), `own reservations do not say "${T.C96} 1"`);

  // The desktop system adds a place; the scheduled run offers it.
  road.expect(raisePlaces(site, slot) === '1', 'the slot to raise was not found in the database');
  const settled = run(site.admin, ['waitlist', 'settle']);
  road.expect(settled.includes('1 place(s) offered'), `the scheduled run did not offer the place: ${settled}`);

  await road.goto(week);
  await road.visit('grid-with-offer');
  road.expect(await page.locator('table.slots td.slot-offered a[href*="/Varaa?"]').count() === 1,
    'the grid does not show the offered slot with its booking link');
  await road.click('a[href*="/Omat?"]');
  await road.visit('own-with-offer');
  road.expect((await text()).includes(T.C98), `own reservations do not show the offer ("${T.C98}")`);

  // Accept: the ordinary confirmation and commit.
  await road.click('tr.line-place a[href*="/Varaa?"]');
  await road.visit('confirm-offered-place');
  const when = ((await page.textContent('.reservation')).match(/\d\d\.\d\d\.\d{4} \d\d:\d\d/) || [])[0];
  road.expect(when, 'the confirmation describes no slot');
  await road.click('form[action$="/Var"] [type="submit"]');
  road.expect(/\/VarOk\?/i.test(page.url()), 'booking the offered place did not reach the success page');
  await road.visit('offered-place-booked');
  await road.click('a[href*="/Omat?"]');
  await road.visit('own-after-booking');
  const own = await text();
  road.expect(own.includes(when), `own reservations do not list the booking of ${when}`);
  road.expect(!own.includes(T.C98) && !own.includes(T.C96), 'the place in line is still listed after booking');
} catch (e) {
  await road.stopped(e);
}

await context.close();
await server.stop();
road.report(name, started);
