#!/bin/sh
# Installing over a site that is in use keeps what the site made its own:
#   reinstall.sh BUILD
# Install into a fresh prefix, `init` (which writes a key), load the demo,
# edit a template, log in; install again: the INI file, the template, the
# database and the log-in are as they were. Then the rules for defaults: a
# template the site never changed gets a changed default, one it changed is
# kept and the changed default reported.
set -eu
BUILD=$1
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
P="$T/site"
fail() { echo "reinstall: $*" >&2; exit 1; }

login() {
  out=$(cd "$P/www/cgi-bin" && env -i SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=GET PATH_INFO=/ChkLogin \
        QUERY_STRING='Lang=Fin&Tunnus=demo&Koodi=demo1234' ./WebOrvane.exe)
  echo "$out" | grep -q '^Location: .*resval?ID=' || fail "demo cannot log in: $(echo "$out" | head -2)"
}

cmake --install "$BUILD" --prefix "$P" >/dev/null
"$P/bin/weborvane-admin" init >/dev/null
grep -Eq '^PasswordKey=[0-9a-f]{64}' "$P/bin/Velmori.ini" || fail "init wrote no password key"
"$P/bin/weborvane-admin" demo >/dev/null
echo "<!-- the centre's own -->" >> "$P/www/WebOrvane/Fin/index.html"
login
cp "$P/bin/Velmori.ini" "$T/ini"
cp "$P/www/WebOrvane/Fin/index.html" "$T/index"
db=$(cksum < "$P/data/VELMORI.db")

cmake --install "$BUILD" --prefix "$P" > "$T/out"
cmp -s "$T/ini" "$P/bin/Velmori.ini" || fail "the install overwrote the INI file"
cmp -s "$T/index" "$P/www/WebOrvane/Fin/index.html" || fail "the install overwrote the edited template"
[ "$db" = "$(cksum < "$P/data/VELMORI.db")" ] || fail "the install touched the database"
grep -q "Site:.*index.html" "$T/out" && fail "a template the default of which did not change was reported"
login

# As if the last install had brought older defaults of Eng/index.html (the
# site has it unchanged) and Fin/index.html (the site changed it).
D="$P/share/weborvane/defaults/www/WebOrvane"
for f in Eng/index.html Fin/index.html; do echo "<!-- older -->" >> "$D/$f"; done
cp "$D/Eng/index.html" "$P/www/WebOrvane/Eng/index.html"
cmake --install "$BUILD" --prefix "$P" > "$T/out"
cmp -s "$D/Eng/index.html" "$P/www/WebOrvane/Eng/index.html" || fail "the unchanged Eng/index.html was not updated"
grep -q "updated www/WebOrvane/Eng/index.html" "$T/out" || fail "the update was not reported: $(cat "$T/out")"
cmp -s "$T/index" "$P/www/WebOrvane/Fin/index.html" || fail "the changed Fin/index.html was overwritten"
grep -q "kept www/WebOrvane/Fin/index.html.*default has changed" "$T/out" ||
  fail "the changed default was not reported: $(cat "$T/out")"
echo "reinstall: the INI file, the edited template, the database and the log-in survived the install"
