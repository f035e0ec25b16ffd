// Plain HTTP requests to the site, as a browser without scripts sends them:
// GET with the fields in the query string, redirects not followed.
const decoder = new TextDecoder('windows-1252');

export async function get(url, { timeout = 30000 } = {}) {
  const r = await fetch(url, { redirect: 'manual', signal: AbortSignal.timeout(timeout) });
  const body = decoder.decode(await r.arrayBuffer());
  return { status: r.status, location: r.headers.get('location') || '', body };
}

export function query(fields) {
  return Object.entries(fields).map(([k, v]) => `${k}=${encodeURIComponent(v)}`).join('&');
}

// The session ID a redirect carries ("...?ID=xxx&Lang=...").
export function sessionOf(location) {
  const m = /[?&]ID=([^&]+)/.exec(location);
  return m ? decodeURIComponent(m[1]) : null;
}

// Registers a web user through the registration form's action and returns
// its session ID.
export async function register(cgi, tunnus, password, lang = 'Fin') {
  const r = await get(`${cgi}/SavReg?${query({
    ID: '0', Lang: lang, Tunnus: tunnus, Koodi: password, SNimi: 'Kilpailija', ENimi: tunnus,
    Os01: 'Tie 1', Os02: '00100', Os03: 'Helsinki', EMail: `${tunnus}@example.org`, Puh: '040 1', MPuh: '', Toim: 'OK',
  })}`);
  const id = sessionOf(r.location);
  if (r.status !== 302 || !/\/regok\?/i.test(r.location) || !id) {
    throw new Error(`registration of ${tunnus} failed: ${r.status} ${r.location}\n${r.body.slice(0, 400)}`);
  }
  return id;
}

export async function login(cgi, tunnus, password, lang = 'Fin') {
  const r = await get(`${cgi}/ChkLogin?${query({ Lang: lang, Tunnus: tunnus, Koodi: password })}`);
  const id = sessionOf(r.location);
  if (r.status !== 302 || !id) throw new Error(`login of ${tunnus} failed: ${r.status}\n${r.body.slice(0, 400)}`);
  return id;
}
