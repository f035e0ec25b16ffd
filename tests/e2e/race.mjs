// Simultaneous users through lighttpd: eight new users register at the same
// moment (each must get its own customer number), then all eight commit a
// booking of the same slot at the same moment, for slots of 1, 2 and 3
// places. Never more rows than places, exactly as many bookings reported as
// written, no status 500, every refusal says why, the fee taken only from
// those who got a place, and no reservation number twice.
//
//   node race.mjs --build BUILD --source SOURCE [--pg]
import { args, dumpTable, installSite, pgFromEnv, startServer } from './lib/site.mjs';
import { get, query, register } from './lib/http.mjs';

const opt = args();
const backend = opt.pg ? 'pg' : 'sqlite';
const name = `race-${backend}`;
const USERS = 8;
const site = installSite({ build: opt.build, source: opt.source, name, pg: opt.pg ? pgFromEnv() : null });
const server = await startServer(site);
const failures = [];
const fail = (m) => failures.push(m);
const trim = (s) => s.trim();
const FULL = 'Vuoroa ei voi en\u00e4\u00e4 varata!';  // text C52, the refusal for a full slot

// Stored date-time "YYYY-MM-DD HH:MM:SS" (local time) as milliseconds.
function parseStored(s) {
  const m = /^(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)$/.exec(s);
  return m ? new Date(+m[1], +m[2] - 1, +m[3], +m[4], +m[5], +m[6]).getTime() : NaN;
}

// Slots starting between tomorrow and two weeks on, with their free places.
function slotsAhead() {
  const taken = new Map();
  for (const r of dumpTable(opt.build, site.ini, 'VAVARAUS')) {
    const k = `${r.Kausi}|${trim(r.VuoroNo)}|${trim(r.VuoroNoSeq)}`;
    taken.set(k, (taken.get(k) || 0) + 1);
  }
  const now = Date.now();
  return dumpTable(opt.build, site.ini, 'VaVuoro').map((s) => {
    const held = taken.get(`${s.Kausi}|${trim(s.VuoroNo)}|${trim(s.VuoroNoSeq)}`) || 0;
    return { ...s, held, free: Number(s.Maara) - held };
  }).filter((s) => {
    const t = parseStored(s.VuoroAika);
    return t > now + 86400e3 && t < now + 14 * 86400e3;
  });
}

try {
  const stamp = String(Date.now() % 100000).padStart(5, '0');
  const names = Array.from({ length: USERS }, (_, i) => `kisa${i}x${stamp}`);
  const ids = await Promise.all(names.map((n) => register(server.cgi, n, 'kisaSana1')));
  const users = dumpTable(opt.build, site.ini, 'WEBREG').filter((r) => names.includes(r.Tunnus));
  if (users.length !== USERS) fail(`${users.length} WEBREG rows for ${USERS} registrations`);
  const asNos = new Set(users.map((u) => u.AsNo));
  if (asNos.size !== users.length) fail(`simultaneous registrations shared customer numbers: ${[...users.map((u) => u.AsNo)]}`);

  // Slots with one, two and three free places (some already partly taken
  // by the demo's customers).
  const slots = slotsAhead();
  const rounds = [];
  for (const free of [1, 2, 3]) {
    const s = slots.find((x) => x.free === free);
    if (s) rounds.push({ slot: s, places: Number(s.Maara), held: s.held });
  }
  if (rounds.length < 2) fail(`the demo has too few slots with 1 to 3 free places: ${rounds.length}`);

  const booked = new Map(names.map((n) => [n, 0]));  // user -> bookings it was told succeeded
  for (const { slot, places, held } of rounds) {
    const key = { Kau: slot.Kausi, Vuo: trim(slot.VuoroNo), Seq: trim(slot.VuoroNoSeq) };
    const urls = ids.map((id) => `${server.cgi}/Var?${query({ ID: id, Lang: 'Fin', ...key })}`);
    const answers = await Promise.all(urls.map((u) => get(u, { timeout: 60000 })));
    let ok = 0;
    answers.forEach((a, i) => {
      if (a.status === 500) fail(`slot ${key.Vuo}: status 500\n${a.body.slice(0, 400)}`);
      else if (a.status === 302 && /\/VarOk\?/.test(a.location)) { ok += 1; booked.set(names[i], booked.get(names[i]) + 1); }
      else if (a.status === 200 && a.body.includes(FULL)) { /* refused: the slot is full */ }
      else fail(`slot ${key.Vuo}: unexpected answer ${a.status} ${a.location}\n${a.body.slice(0, 400)}`);
    });
    const rows = dumpTable(opt.build, site.ini, 'VAVARAUS').filter((r) =>
      r.Kausi === slot.Kausi && trim(r.VuoroNo) === key.Vuo && trim(r.VuoroNoSeq) === key.Seq);
    const jnos = rows.map((r) => r.Jno);
    console.log(`  slot ${key.Kau}/${key.Vuo}/${key.Seq}, ${places} place(s) of which ${held} taken: ${ok} booked, now ${rows.length} row(s), Jno ${jnos.join(',')}`);
    if (rows.length > places) fail(`slot ${key.Vuo}: ${rows.length} rows for ${places} places`);
    if (held + ok !== rows.length) fail(`slot ${key.Vuo}: ${ok} bookings reported, ${rows.length - held} rows written`);
    if (ok !== Math.min(places - held, USERS)) fail(`slot ${key.Vuo}: only ${ok} of ${places - held} free places were booked`);
    if (new Set(jnos).size !== jnos.length) fail(`slot ${key.Vuo}: Jno repeated: ${jnos}`);
  }

  // The fee (2.00 in the demo) was taken once per booking and from nobody else.
  for (const u of dumpTable(opt.build, site.ini, 'WEBREG').filter((r) => names.includes(r.Tunnus))) {
    const want = -2 * booked.get(u.Tunnus);
    if (Math.abs(Number(u.TmpSaldo === 'NULL' ? 0 : u.TmpSaldo) - want) > 1e-6) {
      fail(`${u.Tunnus}: balance ${u.TmpSaldo}, expected ${want} after ${booked.get(u.Tunnus)} booking(s)`);
    }
  }
} catch (e) {
  fail(e.stack || e.message);
}
await server.stop();
if (failures.length) {
  console.log(`${name}: FAILED`);
  for (const f of failures) console.log(`  - ${f}`);
  process.exit(1);
}
console.log(`${name}: simultaneous registrations and commits kept every limit`);
