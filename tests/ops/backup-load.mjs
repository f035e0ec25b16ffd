// A backup taken while the site books at full speed, put back afterwards:
// eight users commit bookings through lighttpd for 10 s; halfway through,
// `weborvane-admin backup` copies the database. The copy and, after
// `weborvane-admin restore` into the running site, the live database pass
// PRAGMA integrity_check; every booking answered before the backup began
// is there, none asked for after it ended is, and the site answers again.
//
//   node backup-load.mjs --build BUILD --source SOURCE [--seconds 10]
import path from 'node:path';
import { args, check, dumpTable, installSite, run, startServer } from '../e2e/lib/site.mjs';
import { get, query, register } from '../e2e/lib/http.mjs';

const opt = args();
const seconds = Number(opt.seconds || 10);
const USERS = 8;
const site = installSite({ build: opt.build, source: opt.source, name: 'backup-load' });
const db = path.join(site.prefix, 'data', 'VELMORI.db');
const copy = path.join(site.prefix, 'backup-under-load.db');
// Room for as many bookings as the load makes.
run('sqlite3', [db, 'UPDATE WEBPARAM SET MaxAsVaraus = 30000, Luottoraja = -10000000']);
const server = await startServer(site);
const failures = [];
const sqlite = (file, sql) => run('sqlite3', [file, sql]).trim();

function parseStored(s) {
  const m = /^(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)$/.exec(s);
  return m ? new Date(+m[1], +m[2] - 1, +m[3], +m[4], +m[5], +m[6]).getTime() : NaN;
}

try {
  const stamp = String(Date.now() % 100000).padStart(5, '0');
  const names = Array.from({ length: USERS }, (_, i) => `varm${i}x${stamp}`);
  const ids = await Promise.all(names.map((n) => register(server.cgi, n, 'varmuusSana1')));
  const asNo = new Map(dumpTable(opt.build, site.ini, 'WEBREG').map((r) => [r.Tunnus, r.AsNo.trim()]));
  const now = Date.now();
  const slots = dumpTable(opt.build, site.ini, 'VaVuoro').filter((s) => {
    const t = parseStored(s.VuoroAika);
    return t > now + 86400e3 && t < now + 25 * 86400e3;
  });
  check(slots.length > 100, `only ${slots.length} slots to book`);

  const commits = [];  // { user, key, sentAt, answeredAt, ok }
  const end = Date.now() + seconds * 1000;
  let backup = null;
  const worker = async (u) => {
    for (let i = u; Date.now() < end; i += USERS) {
      const s = slots[i % slots.length];
      const key = { Kau: s.Kausi, Vuo: s.VuoroNo.trim(), Seq: s.VuoroNoSeq.trim() };
      const sentAt = Date.now();
      const a = await get(`${server.cgi}/Var?${query({ ID: ids[u], Lang: 'Fin', ...key })}`, { timeout: 60000 });
      const ok = a.status === 302 && /\/VarOk\?/.test(a.location);
      if (a.status === 500) failures.push(`a booking answered 500: ${a.body.slice(0, 200)}`);
      commits.push({ user: names[u], key, sentAt, answeredAt: Date.now(), ok });
    }
  };
  const backupLater = (async () => {
    await new Promise((r) => setTimeout(r, seconds * 500));
    const startedAt = Date.now();
    const out = run(path.join(site.prefix, 'bin', 'weborvane-admin'), ['backup', copy]);
    backup = { startedAt, endedAt: Date.now(), out: out.trim() };
  })();
  await Promise.all([...names.map((_, u) => worker(u)), backupLater]);
  check(backup, 'no backup was taken');
  const booked = commits.filter((c) => c.ok);
  console.log(`${booked.length} bookings of ${commits.length} commits in ${seconds} s; ${backup.out}`);
  check(booked.length >= 20, 'hardly any booking went through');
  const before = booked.filter((c) => c.answeredAt < backup.startedAt);
  const after = booked.filter((c) => c.sentAt > backup.endedAt);
  check(before.length > 0 && after.length > 0, `bookings before (${before.length}) and after (${after.length}) the backup`);
  check(sqlite(copy, 'PRAGMA integrity_check') === 'ok', 'the backup fails its integrity check');

  // Put it back into the running site.
  run(path.join(site.prefix, 'bin', 'weborvane-admin'), ['restore', copy]);
  check(sqlite(db, 'PRAGMA integrity_check') === 'ok', 'the restored database fails its integrity check');
  const rows = new Set(dumpTable(opt.build, site.ini, 'VAVARAUS').map((r) =>
    `${r.AsNo.trim()}|${r.Kausi}|${r.VuoroNo.trim()}|${r.VuoroNoSeq.trim()}`));
  const has = (c) => rows.has(`${asNo.get(c.user)}|${c.key.Kau}|${c.key.Vuo}|${c.key.Seq}`);
  const lost = before.filter((c) => !has(c));
  const kept = after.filter(has);
  if (lost.length) failures.push(`${lost.length} of ${before.length} bookings answered before the backup are missing`);
  if (kept.length) failures.push(`${kept.length} bookings asked for after the backup are in it`);
  const page = await get(`${server.cgi}/Index?Lang=Fin`);
  if (page.status !== 200) failures.push(`after the restore the start page answers ${page.status}`);
  console.log(`restored: all ${before.length} bookings from before the backup, none of the ${after.length} after it`);
} catch (e) {
  failures.push(e.stack || e.message);
}
await server.stop();
if (failures.length) {
  console.log('backup-load: FAILED');
  for (const f of failures) console.log(`  - ${f}`);
  process.exit(1);
}
console.log('backup-load: a consistent backup under load, restored whole');
