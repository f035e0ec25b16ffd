// The password reset by e-mail in a real browser, through lighttpd, on a
// fresh install with the demonstration centre, the mails delivered by
// `weborvane-admin mail send` to a real SMTP server on loopback (Debian's
// python3-aiosmtpd) and read from its mailbox:
//   from the login page to the reset form, ask for a name nobody has and
//   for the demonstration user (the same page both times), follow the
//   mail's link, be refused two passwords that differ, set the new one,
//   be refused the old password and log in with the new one, be refused
//   the used link.
// Every page gets the checks of lib/browser.mjs.
//
//   node reset.mjs --build BUILD --source SOURCE --lang Fin|Eng
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { args, freePort, installSite, onExit, run, startServer } from './lib/site.mjs';
import { openBrowser, parseScreen, Road } from './lib/browser.mjs';

const opt = args();
const lang = opt.lang === 'Eng' ? 'Eng' : 'Fin';
const name = `reset-${lang.toLowerCase()}`;
const cgi = '/cgi-bin/WebOrvane.exe';

// The texts the road expects: the Finnish defaults or the site's English.
const fin = {
  C73: 'Käyttäjätunnus tai salasana on väärä. Tarkista ne ja yritä uudelleen.',
  C82: 'Linkki on vanhentunut, jo käytetty tai virheellinen. Pyydä alta uusi linkki.',
  C84: 'Salasanat eivät ole samat.',
};
const T = { ...fin };
if (lang === 'Eng') {
  for (const line of fs.readFileSync(path.join(opt.source, 'site', 'texts', 'eng.tsv'), 'utf8').split('\n')) {
    const [l, key, text] = line.split('\t');
    if (l === 'ENG' && key in fin) T[key] = text;
  }
}

// aiosmtpd on 127.0.0.1:port, keeping what it receives in a Maildir.
async function startSmtp(port, maildir) {
  const child = spawn('/usr/bin/python3', ['-m', 'aiosmtpd', '-n', '-l', `127.0.0.1:${port}`, '-c', 'aiosmtpd.handlers.Mailbox', maildir],
    { stdio: ['ignore', 'inherit', 'inherit'] });
  onExit(() => child.kill('SIGTERM'));
  const deadline = Date.now() + 15000;
  for (;;) {
    const up = await new Promise((resolve) => {
      const s = net.connect(port, '127.0.0.1', () => { s.end(); resolve(true); });
      s.on('error', () => resolve(false));
    });
    if (up) return child;
    if (child.exitCode !== null || Date.now() > deadline) throw new Error('aiosmtpd did not start (scripts/install-deps installs python3-aiosmtpd)');
    await new Promise((r) => setTimeout(r, 100));
  }
}

// The mails of the Maildir as tests/mail/read_mailbox.py reads them.
function mails(maildir) {
  const out = run('/usr/bin/python3', [path.join(opt.source, 'tests', 'mail', 'read_mailbox.py'), maildir]);
  const all = [];
  let m = {};
  for (const line of out.split('\n')) {
    if (line === 'end') { all.push(m); m = {}; continue; }
    const tab = line.indexOf('\t');
    if (tab > 0) m[line.slice(0, tab)] = line.slice(tab + 1);
  }
  return all;
}

const started = Date.now();
const port = await freePort();
const smtpPort = await freePort();
const site = installSite({
  build: opt.build, source: opt.source, name,
  ini: { Mail: { SmtpUrl: `smtp://127.0.0.1:${smtpPort}`, From: 'Rantapuisto <varaukset@example.org>', SiteUrl: `http://127.0.0.1:${port}` } },
});
const maildir = path.join(site.prefix, 'maildir');
const smtp = await startSmtp(smtpPort, maildir);
const server = await startServer(site, { port });
console.log(`${name}: ${server.url} serving ${site.prefix}`);
const context = await openBrowser(path.join(site.prefix, 'chromium-profile'), parseScreen());
const road = new Road(context, { origin: server.url, shotDir: path.join(opt.build, 'e2e-screens', name) });
const page = await road.newPage();
const text = async () => (await page.textContent('main')).replace(/\s+/g, ' ');
const user = { tunnus: 'demo', old: 'demo1234', fresh: 'uusi-Sana3' };

async function logIn(password) {
  await road.goto(`${cgi}/Login?Lang=${lang}`);
  await page.fill('input[name="Tunnus"]', user.tunnus);
  await page.fill('input[name="Koodi"]', password);
  await road.click('form[action$="/ChkLogin"] [type="submit"]');
}

async function ask(tunnus, shot) {
  await road.goto(`${cgi}/Login?Lang=${lang}`);
  await road.click(`a[href="${cgi}/Unohtui?Lang=${lang}"]`);
  await road.visit(`${shot}-form`);
  await page.fill('input[name="Tunnus"]', tunnus);
  await road.click('form[action$="/Unohtui"] [type="submit"]');
  await road.visit(shot);
  return page.innerHTML('main');
}

try {
  await road.goto(`${cgi}/Login?Lang=${lang}`);
  await road.visit('login-form');

  // The answer tells nobody whether a name is registered.
  const unknown = await ask('eikukaan', 'asked-for-nobody');
  const known = await ask(user.tunnus, 'asked-for-the-user');
  road.expect(known === unknown, 'the answer for a registered name differs from the one for an unknown name');

  // The sender delivers one reset mail (beside the demonstration user's
  // reminders); its link leads to the form.
  run(site.admin, ['mail', 'send']);
  const got = mails(maildir).filter((m) => m.text && JSON.parse(m.text).includes('/Palauta?'));
  road.expect(got.length === 1, `${got.length} reset mails arrived, not 1`);
  road.expect(got[0].to === 'eeva.esimerkki@example.com', `the mail went to ${got[0].to}`);
  const body = JSON.parse(got[0].text);
  const link = (body.match(/http:\/\/\S+\/Palauta\?\S+/) || [])[0];
  road.expect(link && link.startsWith(`${server.url}${cgi}/Palauta?Lang=${lang}&T=`), `the mail carries no reset link: ${body}`);
  await road.goto(link);
  await road.visit('new-password-form');

  // Two passwords that differ are refused; then the new one is set.
  await page.fill('input[name="UKoodi"]', user.fresh);
  await page.fill('input[name="UKoodi2"]', `${user.fresh}x`);
  await road.click('form[action$="/Palauta"] [type="submit"]');
  await road.visit('passwords-differ');
  road.expect((await text()).includes(T.C84), `the form does not say "${T.C84}"`);
  await page.fill('input[name="UKoodi"]', user.fresh);
  await page.fill('input[name="UKoodi2"]', user.fresh);
  await road.click('form[action$="/Palauta"] [type="submit"]');
  road.expect(/\/Palauta\?Lang=\w+&Valmis=1$/.test(page.url()), 'the reset did not lead to its done page');
  await road.visit('password-reset');
  await road.click(`main a[href="${cgi}/Login?Lang=${lang}"]`);
  await road.visit('login-after-reset');

  // The old password is refused, the new one logs in.
  await logIn(user.old);
  await road.visit('old-password-refused');
  road.expect((await text()).includes(T.C73), 'the old password was not refused as a wrong one');
  await logIn(user.fresh);
  road.expect(/\/resval\?ID=\w{17,}/i.test(page.url()), 'login with the new password failed');
  await road.visit('logged-in-with-new-password');

  // The link works once.
  await road.goto(link);
  await road.visit('used-link');
  road.expect((await text()).includes(T.C82), `the used link is not refused with "${T.C82}"`);
  road.expect(await page.locator('input[name="UKoodi"]').count() === 0, 'the used link still offers the form');
} catch (e) {
  await road.stopped(e);
}

await context.close();
await server.stop();
smtp.kill('SIGTERM');
road.report(name, started);
