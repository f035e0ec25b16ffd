// The booking road through a web server set up from the shipped drop-in,
// as a browser without scripts walks it: plain HTTP is sent on to HTTPS;
// log in, choose a week, book a slot, see it in the own list, cancel it.
// Every answer of the program must carry the four security headers, and a
// form field in Windows-1252 ("ö" as %F6) must reach the program.
//
//   node road.mjs --host NAME --ca CERT.pem [--port 443] [--http-port 80]
//
// The server is reached on 127.0.0.1 under the host name NAME (SNI and
// Host), with CERT.pem as the only trusted certificate.
import fs from 'node:fs';
import http from 'node:http';
import https from 'node:https';

const opt = {};
for (let i = 2; i < process.argv.length; i += 2) opt[process.argv[i].replace(/^--/, '')] = process.argv[i + 1];
const host = opt.host || 'booking.example.org';
const port = Number(opt.port || 443);
const httpPort = Number(opt['http-port'] || 80);
const ca = fs.readFileSync(opt.ca);
const decoder = new TextDecoder('windows-1252');
const cgi = '/cgi-bin/WebOrvane.exe';
const failures = [];
let pages = 0;

function request(path, { secure = true } = {}) {
  return new Promise((resolve, reject) => {
    const mod = secure ? https : http;
    const req = mod.request({
      host: '127.0.0.1', port: secure ? port : httpPort, path, method: 'GET', servername: host, ca,
      headers: { Host: host, 'User-Agent': 'weborvane-road' }, timeout: 30000,
    }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, body: decoder.decode(Buffer.concat(chunks)) }));
    });
    req.on('timeout', () => req.destroy(new Error(`timeout on ${path}`)));
    req.on('error', reject);
    req.end();
  });
}

const want = {
  'x-frame-options': /^DENY$/i,
  'x-content-type-options': /^nosniff$/i,
  'referrer-policy': /^no-referrer$/i,
  'cache-control': /^no-store$/i,
};

// A page of the program: the answer, checked for the headers.
async function page(path, expect = [200]) {
  const r = await request(path);
  pages += 1;
  if (!expect.includes(r.status)) throw new Error(`${path}: status ${r.status}, expected ${expect}\n${r.body.slice(0, 400)}`);
  for (const [h, re] of Object.entries(want)) {
    if (!re.test(r.headers[h] || '')) failures.push(`${path}: header ${h} is "${r.headers[h] || ''}"`);
  }
  return r;
}

function unescape(s) {
  return s.replace(/&amp;/g, '&').replace(/&quot;/g, '"').replace(/&lt;/g, '<').replace(/&gt;/g, '>');
}

// The query a form sends: its hidden and text inputs, its named submit
// button and the first option of each select.
function formQuery(html, action) {
  const m = new RegExp(`<form[^>]*action="[^"]*/${action}"[^>]*>([\\s\\S]*?)</form>`, 'i').exec(html);
  if (!m) throw new Error(`no form for /${action}`);
  const fields = [];
  for (const i of m[1].matchAll(/<input\b([^>]*)>/gi)) {
    const name = /name="?([^"\s>]+)"?/i.exec(i[1]);
    const value = /value="([^"]*)"/i.exec(i[1]);
    if (name) fields.push([name[1], value ? unescape(value[1]) : '']);
  }
  for (const s of m[1].matchAll(/<select[^>]*name="?([^"\s>]+)"?[^>]*>([\s\S]*?)<\/select>/gi)) {
    const o = /<option[^>]*value="([^"]*)"/i.exec(s[2]);
    if (o) fields.push([s[1], unescape(o[1])]);
  }
  return fields.map(([k, v]) => `${k}=${encodeURIComponent(v)}`).join('&');
}

function links(html, action) {
  return [...html.matchAll(new RegExp(`href="([^"]*/${action}\\?[^"]*)"`, 'gi'))].map((m) => unescape(m[1]));
}
const link = (html, action) => links(html, action)[0] || null;

try {
  // Plain HTTP: sent on to HTTPS with the path and the query.
  const plain = await request(`${cgi}/Index?Lang=Fin`, { secure: false });
  if (![301, 308].includes(plain.status) || plain.headers.location !== `https://${host}${cgi}/Index?Lang=Fin`) {
    failures.push(`plain HTTP answers ${plain.status} to ${plain.headers.location || 'nowhere'}`);
  }
  await page(`${cgi}/Index?Lang=Fin`);
  const css = await request('/weborvane.css');
  if (css.status !== 200 || !css.body.includes('{')) failures.push(`the style sheet answers ${css.status}`);

  // A Windows-1252 byte in a form field reaches the program (a failed log-in).
  const bad = await page(`${cgi}/ChkLogin?Lang=Fin&Tunnus=p%E4%E4t%F6s&Koodi=x`, [200, 302]);
  if (bad.status === 200 && !/<html/i.test(bad.body)) failures.push('the log-in with "ö" did not reach the program');

  // Log in.
  const login = await page(`${cgi}/ChkLogin?Lang=Fin&Tunnus=demo&Koodi=demo1234`, [302]);
  const id = /[?&]ID=([^&]+)/.exec(login.headers.location || '');
  if (!id) throw new Error(`the log-in sent no session: ${login.headers.location}`);
  const q = `ID=${id[1]}&Lang=Fin`;
  await page(new URL(login.headers.location, `https://${host}`).pathname + new URL(login.headers.location, `https://${host}`).search);

  // A slot of tomorrow's week that the user can book (some in the grid
  // are the user's own already, or full by the time of the commit).
  const d = new Date(Date.now() + 86400e3);
  const grid = await page(`${cgi}/Viikko?${q}&Resurssi=102&PP=${d.getDate()}&KK=${d.getMonth() + 1}&VV=${d.getFullYear()}`);
  let booked = null;
  for (const varaa of links(grid.body, 'Varaa').slice(0, 10)) {
    const confirm = await page(varaa);
    const r = await page(`${cgi}/Var?${formQuery(confirm.body, 'Var')}`, [200, 302]);
    if (r.status === 302 && /\/VarOk\?/i.test(r.headers.location || '')) {
      booked = r;
      break;
    }
  }
  if (!booked) throw new Error('no slot of the coming week could be booked');
  await page(booked.headers.location.replace(/^https?:\/\/[^/]+/, ''));

  // The own list shows it; cancel it.
  const own = await page(`${cgi}/Omat?${q}`);
  const poista = link(own.body, 'Poista');
  if (!poista) throw new Error('the own list offers nothing to cancel');
  const ask = await page(poista);
  const cancelled = await page(`${cgi}/PoisVar?${formQuery(ask.body, 'PoisVar')}`, [302]);
  if (!/\/PoisOk\?/i.test(cancelled.headers.location || '')) throw new Error(`the cancellation answered ${cancelled.headers.location}`);
  await page(cancelled.headers.location.replace(/^https?:\/\/[^/]+/, ''));
  await page(`${cgi}/LogOut?${q}`, [200, 302]);
} catch (e) {
  failures.push(e.stack || e.message);
}

if (failures.length) {
  console.log(`road: FAILED after ${pages} pages`);
  for (const f of failures) console.log(`  - ${f}`);
  process.exit(1);
}
console.log(`road: ${pages} pages over HTTPS, each with the four security headers`);
