// A fresh WebOrvane site served by lighttpd on 127.0.0.1, for the browser,
// load and race tests: the build installed into a throwaway prefix, the
// database initialised with the demonstration centre and the English texts,
// and lighttpd on a free port. Everything started here is stopped again when
// the process ends, also when it ends through an error or a signal.
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';

const children = new Set();
const cleanups = [];

function killChildren() {
  for (const c of children) {
    try { c.kill('SIGTERM'); } catch { /* already gone */ }
  }
  children.clear();
}
process.on('exit', () => {
  killChildren();
  for (const f of cleanups.reverse()) {
    try { f(); } catch { /* best effort */ }
  }
});
for (const sig of ['SIGINT', 'SIGTERM', 'SIGHUP']) {
  process.on(sig, () => { process.exit(128 + 2); });
}

// Parses "--name value" pairs; every test script takes --build and --source.
export function args(argv = process.argv.slice(2)) {
  const out = {};
  for (let i = 0; i < argv.length; i++) {
    if (!argv[i].startsWith('--')) continue;
    const key = argv[i].slice(2);
    if (i + 1 < argv.length && !argv[i + 1].startsWith('--')) out[key] = argv[++i];
    else out[key] = true;
  }
  for (const k of ['build', 'source']) {
    if (!out[k]) throw new Error(`missing --${k}`);
    out[k] = path.resolve(out[k]);
  }
  return out;
}

export function run(cmd, argv, opts = {}) {
  try {
    return execFileSync(cmd, argv, { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'], timeout: 120000, ...opts });
  } catch (e) {
    throw new Error(`${cmd} ${argv.join(' ')} failed:\n${e.stdout || ''}${e.stderr || ''}${e.message}`);
  }
}

// A TCP port on 127.0.0.1 that nothing listens on right now.
export function freePort() {
  return new Promise((resolve, reject) => {
    const srv = net.createServer();
    srv.unref();
    srv.on('error', reject);
    srv.listen(0, '127.0.0.1', () => {
      const { port } = srv.address();
      srv.close(() => resolve(port));
    });
  });
}

// Writes INI keys into their sections of an INI text (keys replaced when
// present, added otherwise).
function setIni(text, section, values) {
  const lines = text.split('\n');
  let start = lines.findIndex((l) => l.trim().toLowerCase() === `[${section.toLowerCase()}]`);
  if (start < 0) {
    lines.push(`[${section}]`);
    start = lines.length - 1;
  }
  let end = lines.findIndex((l, i) => i > start && l.trim().startsWith('['));
  if (end < 0) end = lines.length;
  for (const [k, v] of Object.entries(values)) {
    const at = lines.findIndex((l, i) => i > start && i < end && l.split('=')[0].trim().toLowerCase() === k.toLowerCase());
    if (at >= 0) lines[at] = `${k}=${v}`;
    else { lines.splice(end, 0, `${k}=${v}`); end++; }
  }
  return lines.join('\n');
}

// Installs the build into a fresh prefix under BUILD/e2e-work/NAME and loads
// the demonstration centre. `pg`: {host, port, user} of a PostgreSQL server
// whose database VELMORI the site is to use (it is dropped and made anew);
// `ini`: further INI keys by section, {Mail: {SmtpUrl: ...}}.
export function installSite({ build, source, name, pg = null, company = 'Liikuntakeskus Rantapuisto', ini: keys = {} }) {
  const work = path.join(build, 'e2e-work');
  fs.mkdirSync(work, { recursive: true });
  const prefix = path.join(work, name);
  fs.rmSync(prefix, { recursive: true, force: true });
  run('cmake', ['--install', build, '--prefix', prefix]);
  const ini = path.join(prefix, 'bin', 'Velmori.ini');
  let text = fs.readFileSync(ini, 'latin1');
  text = setIni(text, 'Site', { CompanyName: company });
  for (const [section, values] of Object.entries(keys)) text = setIni(text, section, values);
  if (pg) {
    recreatePgDatabase(pg, 'VELMORI');
    text = setIni(text, 'DataBase', { ServerName: 'weborvane-e2e', ServerAddress: pg.host, User: pg.user, Password: '' });
  }
  fs.writeFileSync(ini, text, 'latin1');
  const admin = path.join(prefix, 'bin', 'weborvane-admin');
  run(admin, ['init']);
  run(admin, ['demo']);
  run(admin, ['translations', 'import', path.join(prefix, 'share', 'weborvane', 'eng.tsv')]);
  return { prefix, ini, admin, source };
}

// The PostgreSQL test server as the ctest fixture describes it.
export function pgFromEnv() {
  return {
    host: process.env.WO_PG_HOST || '127.0.0.1',
    port: Number(process.env.WO_PG_PORT || 16000),
    user: process.env.WO_PG_USER || 'weborvane',
  };
}

function recreatePgDatabase(pg, db) {
  const base = ['-h', pg.host, '-p', String(pg.port), '-U', pg.user, '-d', 'postgres', '-v', 'ON_ERROR_STOP=1', '-q', '-c'];
  run('psql', [...base, `DROP DATABASE IF EXISTS "${db}" WITH (FORCE)`]);
  run('psql', [...base, `CREATE DATABASE "${db}"`]);
}

// Starts lighttpd for an installed site on a free port of 127.0.0.1, with
// the configuration the site's own scripts/lighttpd-conf writes.
export async function startServer(site, { port = null } = {}) {
  port = port || await freePort();
  const conf = path.join(site.prefix, 'lighttpd.conf');
  const text = run(path.join(site.source, 'scripts', 'lighttpd-conf'), [site.prefix, String(port), '127.0.0.1']);
  fs.writeFileSync(conf, text);
  const lighttpd = fs.existsSync('/usr/sbin/lighttpd') ? '/usr/sbin/lighttpd' : 'lighttpd';
  // Under timeout(1): should this process be killed outright, the server
  // still ends by itself; a TERM to the wrapper reaches lighttpd.
  const child = spawn('timeout', ['--signal=TERM', '900', lighttpd, '-D', '-f', conf],
    { stdio: ['ignore', 'inherit', 'inherit'] });
  children.add(child);
  child.on('exit', () => children.delete(child));
  const url = `http://127.0.0.1:${port}`;
  const deadline = Date.now() + 15000;
  for (;;) {
    if (child.exitCode !== null) throw new Error(`lighttpd exited with ${child.exitCode}; see ${site.prefix}/log/lighttpd.log`);
    try {
      const r = await fetch(`${url}/weborvane.css`);
      if (r.ok) break;
    } catch { /* not up yet */ }
    if (Date.now() > deadline) throw new Error(`lighttpd did not answer on ${url}`);
    await new Promise((r) => setTimeout(r, 100));
  }
  return {
    url,
    port,
    cgi: `${url}/cgi-bin/WebOrvane.exe`,
    async stop() {
      if (child.exitCode !== null) return;
      const gone = new Promise((r) => child.once('exit', r));
      child.kill('SIGTERM');
      await Promise.race([gone, new Promise((r) => setTimeout(r, 5000))]);
      if (child.exitCode === null) child.kill('SIGKILL');
    },
  };
}

// Runs a program of the test suite (bounded in time) and returns its output.
export function runTool(tool, argv, timeout = 60000) {
  return run(tool, argv, { timeout });
}

// The rows of a table as the test tool wo-dump prints them: one object per
// row, field name to value.
export function dumpTable(build, ini, table) {
  const out = run(path.join(build, 'tests', 'wo-dump'), ['--ini', ini, table]);
  return out.split('\n').filter((l) => l.length > 0).map((l) => {
    const row = {};
    for (const part of l.split('|')) {
      const eq = part.indexOf('=');
      row[part.slice(0, eq)] = part.slice(eq + 1);
    }
    return row;
  });
}

export function onExit(fn) {
  cleanups.push(fn);
}

// A simple check that fails the test with a message.
export function check(ok, message) {
  if (!ok) throw new Error(message);
}
