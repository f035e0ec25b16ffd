// The calendar page under load: wrk with 8 concurrent connections for 10 s
// against /Viikko through lighttpd, for a logged-in user (every cell then
// counts its reservations). Every answer must be 2xx or 3xx, without socket
// errors or time-outs.
//
//   node load.mjs --build BUILD --source SOURCE [--seconds 10] [--connections 8]
import { args, installSite, run, startServer } from './lib/site.mjs';
import { get, login, query } from './lib/http.mjs';

const opt = args();
const seconds = Number(opt.seconds || 10);
const connections = Number(opt.connections || 8);
const site = installSite({ build: opt.build, source: opt.source, name: 'load' });
const server = await startServer(site);
const failures = [];

try {
  const id = await login(server.cgi, 'demo', 'demo1234');
  const d = new Date(Date.now() + 24 * 3600 * 1000);
  const url = `${server.cgi}/Viikko?${query({ ID: id, Lang: 'Fin', Resurssi: '102', PP: d.getDate(), KK: d.getMonth() + 1, VV: d.getFullYear() })}`;
  const sample = await get(url);
  if (sample.status !== 200 || !/<table class="slots"><TR>/.test(sample.body) || !/\/Varaa\?/.test(sample.body)) {
    failures.push(`the calendar page is not what the load should hit: ${sample.status}\n${sample.body.slice(0, 600)}`);
  } else {
    const out = run('wrk', ['-t2', `-c${connections}`, `-d${seconds}s`, '--timeout', '10s', '--latency', url],
      { timeout: (seconds + 30) * 1000 });
    console.log(out);
    const non2xx = /Non-2xx or 3xx responses:\s+(\d+)/.exec(out);
    const sock = /Socket errors: connect (\d+), read (\d+), write (\d+), timeout (\d+)/.exec(out);
    const total = /(\d+) requests in/.exec(out);
    if (non2xx) failures.push(`${non2xx[1]} answers were neither 2xx nor 3xx`);
    if (sock && sock.slice(1).some((n) => Number(n) > 0)) failures.push(`socket errors: ${sock[0]}`);
    if (!total || Number(total[1]) < seconds) failures.push('hardly any request was answered');
    const log = run('sh', ['-c', `grep -ci 'error' '${site.prefix}/log/lighttpd.log' || true`]).trim();
    if (Number(log) > 0) failures.push(`lighttpd logged ${log} error line(s); see ${site.prefix}/log/lighttpd.log`);
  }
} catch (e) {
  failures.push(e.message);
}
await server.stop();
if (failures.length) {
  console.log('load: FAILED');
  for (const f of failures) console.log(`  - ${f}`);
  process.exit(1);
}
console.log(`load: ${connections} connections for ${seconds} s, every answer 2xx/3xx`);
