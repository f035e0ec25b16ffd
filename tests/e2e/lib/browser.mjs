// Debian's chromium driven by playwright-core, headless, with a fresh
// profile; and the checks every page of a road gets: a screenshot, no
// console error, no failed subresource, no link that answers 404 or 500,
// no violation of the WCAG 2.1 A and AA rules that axe-core checks, and on
// a phone's screen no sideways scrolling.
import fs from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { chromium } from 'playwright-core';

export const CHROMIUM = '/usr/bin/chromium';

const AXE_SOURCE = fs.readFileSync(createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');
const AXE_TAGS = ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa'];

// Screens the roads are walked on: "1280x900" or "390x844". Below 600 px
// the browser behaves as a phone's (touch, the page's viewport meta).
export function parseScreen(text = '1280x900') {
  const m = /^(\d+)x(\d+)$/.exec(text);
  if (!m) throw new Error(`--screen takes WIDTHxHEIGHT, not "${text}"`);
  const width = Number(m[1]), height = Number(m[2]);
  return { width, height, phone: width < 600, name: text };
}

// Actions that change what the road depends on (the session, the password,
// the reservations): the road itself follows their links and forms, so the
// link check leaves them alone.
const STATEFUL = /\/cgi-bin\/WebOrvane\.exe\/(LogOut|ChkLogin|SavReg|Var|PoisVar|VaihdaSana|Unohtui|Palauta|Jono|JonoPois)(\?|$)/i;

export async function openBrowser(profileDir, screen = parseScreen()) {
  fs.rmSync(profileDir, { recursive: true, force: true });
  fs.mkdirSync(profileDir, { recursive: true });
  const context = await chromium.launchPersistentContext(profileDir, {
    executablePath: CHROMIUM,
    headless: true,
    args: ['--no-sandbox', '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    viewport: { width: screen.width, height: screen.height },
    isMobile: screen.phone,
    hasTouch: screen.phone,
    timeout: 60000,
  });
  context.setDefaultTimeout(20000);
  context.setDefaultNavigationTimeout(30000);
  return context;
}

// Follows one road through the site: every page it lands on is checked.
export class Road {
  constructor(context, { origin, shotDir, phone = false, log = console.log }) {
    this.context = context;
    this.phone = phone;
    this.origin = origin;
    this.shotDir = shotDir;
    this.log = log;
    this.step = 0;
    this.problems = [];
    this.pending = [];  // console errors and failed loads since the last check
    this.checkedLinks = new Map();
    fs.rmSync(shotDir, { recursive: true, force: true });
    fs.mkdirSync(shotDir, { recursive: true });
  }

  async newPage() {
    const page = await this.context.newPage();
    page.on('console', (m) => {
      if (m.type() === 'error') this.pending.push(`console error: ${m.text()}`);
    });
    page.on('pageerror', (e) => this.pending.push(`page error: ${e.message}`));
    page.on('requestfailed', (r) => this.pending.push(`failed to load ${r.url()}: ${r.failure()?.errorText}`));
    page.on('response', (r) => {
      if (r.status() >= 400) this.pending.push(`HTTP ${r.status()} for ${r.url()}`);
    });
    this.page = page;
    return page;
  }

  // Checks the page the browser shows now and keeps its screenshot.
  async visit(name) {
    const page = this.page;
    await page.waitForLoadState('load');
    this.step += 1;
    const file = path.join(this.shotDir, `${String(this.step).padStart(2, '0')}-${name}.png`);
    await page.screenshot({ path: file, fullPage: true });
    const url = page.url();
    const problems = this.pending.splice(0);
    const status = await page.evaluate(() => performance.getEntriesByType('navigation')[0]?.responseStatus ?? 0);
    if (status >= 400) problems.push(`the page itself answered ${status}`);
    for (const link of await this.links()) {
      const bad = await this.checkLink(link);
      if (bad) problems.push(bad);
    }
    problems.push(...await this.accessibilityViolations());
    if (this.phone) {
      const { scroll, client } = await this.widths();
      if (scroll !== client) problems.push(`the page is ${scroll} px wide on a screen of ${client} px`);
    }
    for (const p of problems) this.problems.push(`${name} (${url}): ${p}`);
    this.log(`  ${String(this.step).padStart(2, '0')} ${name}: ${url.replace(this.origin, '')}${problems.length ? ` — ${problems.length} problem(s)` : ''}`);
    return page;
  }

  // axe-core's findings on the page as it is shown, one line per rule.
  async accessibilityViolations() {
    await this.page.evaluate(AXE_SOURCE);
    const found = await this.page.evaluate((tags) => axe.run(document, {
      runOnly: { type: 'tag', values: tags }, resultTypes: ['violations'],
    }).then((r) => r.violations.map((v) => ({
      id: v.id, impact: v.impact, help: v.help, nodes: v.nodes.map((n) => n.target.join(' ')),
    }))), AXE_TAGS);
    return found.map((v) => `axe ${v.id} (${v.impact}): ${v.help}: ${v.nodes.slice(0, 4).join(', ')}` +
      (v.nodes.length > 4 ? ` and ${v.nodes.length - 4} more` : ''));
  }

  // The page's full width and the screen's.
  async widths() {
    return this.page.evaluate(() => ({
      scroll: document.documentElement.scrollWidth, client: document.documentElement.clientWidth,
    }));
  }

  async links() {
    const hrefs = await this.page.$$eval('a[href]', (as) => as.map((a) => a.href));
    return [...new Set(hrefs)];
  }

  // 404 or 500 (or any 4xx/5xx) from a link of this site is a problem.
  // Links to other hosts are not followed: the tests talk to loopback only.
  async checkLink(href) {
    if (!href.startsWith(this.origin)) return null;
    if (STATEFUL.test(href)) return null;
    const u = href.split('#')[0];
    if (this.checkedLinks.has(u)) return this.checkedLinks.get(u);
    let result = null;
    try {
      const r = await fetch(u, { redirect: 'manual', signal: AbortSignal.timeout(15000) });
      await r.arrayBuffer();
      if (r.status >= 400) result = `link ${u} answers ${r.status}`;
    } catch (e) {
      result = `link ${u} fails: ${e.message}`;
    }
    this.checkedLinks.set(u, result);
    return result;
  }

  // Clicks and waits for the page it leads to (redirects included).
  async click(selector) {
    const target = this.page.locator(selector).first();
    await Promise.all([this.page.waitForNavigation({ waitUntil: 'load' }), target.click()]);
    return this.page;
  }

  async goto(url) {
    await this.page.goto(url.startsWith('http') ? url : this.origin + url, { waitUntil: 'load' });
    return this.page;
  }

  expect(ok, message) {
    if (!ok) throw new Error(`step ${this.step}: ${message} (at ${this.page.url()})`);
  }

  // A road that threw: the page as it was, and the reason among the problems.
  async stopped(e) {
    try {
      await this.page.screenshot({ path: path.join(this.shotDir, 'failure.png'), fullPage: true });
    } catch { /* the page may be gone */ }
    this.problems.push(`road stopped: ${e.message}`);
  }

  // Prints the road's outcome since `started` (ms); exits 1 with its problems.
  report(name, started) {
    const secs = ((Date.now() - started) / 1000).toFixed(1);
    if (this.problems.length > 0) {
      console.log(`${name}: FAILED after ${this.step} pages, ${secs} s; screenshots in ${this.shotDir}`);
      for (const p of this.problems) console.log(`  - ${p}`);
      process.exit(1);
    }
    console.log(`${name}: ${this.step} pages checked (${this.checkedLinks.size} links) in ${secs} s; screenshots in ${this.shotDir}`);
  }
}
