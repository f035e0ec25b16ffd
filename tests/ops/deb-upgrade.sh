#!/bin/sh
# Inside sandbox.sh (see deb.sh): deb-upgrade.sh SOURCE EARLIER.deb NEW.deb
set -eu
SOURCE=$1
OLD=$2
NEW=$3
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive
T=/etc/weborvane/templates
fail() { echo "deb-upgrade: $*" >&2; exit 1; }

login() {
  out=$(cd /usr/lib/weborvane/www/cgi-bin &&
        setpriv --reuid=www-data --regid=www-data --init-groups env -i SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=GET PATH_INFO=/ChkLogin \
          QUERY_STRING='Lang=Fin&Tunnus=demo&Koodi=demo1234' ./WebOrvane.exe)
  echo "$out" | grep -q '^Location: .*ID=' || fail "demo cannot log in: $(echo "$out" | head -3)"
}

apt-get install -y -qq "$OLD" >/dev/null 2>&1 || dpkg -i "$OLD" || fail "the earlier package does not install"
grep -Eq '^PasswordKey=[0-9a-f]{64}' /etc/weborvane/Velmori.ini || fail "the postinst set no password key"
[ "$(stat -c %U:%G /var/lib/weborvane/VELMORI.db)" = www-data:www-data ] || fail "the database is not www-data's"
[ "$(stat -c %G%a /etc/weborvane/Velmori.ini)" = www-data640 ] || fail "the INI file is not root:www-data 0640"
weborvane-admin demo >/dev/null
login
echo "<!-- the centre's own -->" >> $T/Fin/index.html
echo "<!-- the centre's own -->" >> $T/Eng/login.html
cp /etc/weborvane/Velmori.ini /tmp/ini.before
cp $T/Fin/index.html /tmp/index.before
cp $T/Eng/login.html /tmp/login.before

apt-get install -y -qq -o Dpkg::Options::=--force-confold "$NEW" >/dev/null 2>&1 ||
  dpkg -i --force-confold "$NEW" || fail "the upgrade does not install"
[ "$(dpkg-query -W -f '${Version}' weborvane)" != 0.9 ] || fail "the upgrade did not happen"
cmp -s /tmp/ini.before /etc/weborvane/Velmori.ini || fail "the upgrade changed the INI file"
cmp -s /tmp/index.before $T/Fin/index.html || fail "the upgrade replaced the edited Fin/index.html"
cmp -s /tmp/login.before $T/Eng/login.html || fail "the upgrade replaced the edited Eng/login.html"
[ -f $T/Fin/index.html.dpkg-dist ] || fail "the new default of Fin/index.html was not put beside it"
cmp -s /usr/lib/weborvane/share/weborvane/defaults/www/WebOrvane/Fin/login.html $T/Fin/login.html ||
  fail "the unedited Fin/login.html did not get the new default"
login
echo "deb-upgrade: the upgrade kept the INI file, the edited templates and the log-in"

# The program twice (the static one and the dynamic one it hands a server's
# site to), and the FastCGI configurations beside the CGI ones, not enabled.
! readelf -l /usr/lib/weborvane/www/cgi-bin/WebOrvane.exe | grep -q 'program interpreter' ||
  fail "www/cgi-bin/WebOrvane.exe is not linked statically"
[ -x /usr/lib/weborvane/lib/dynamic/WebOrvane.exe ] || fail "lib/dynamic/WebOrvane.exe is missing"
for f in /etc/lighttpd/conf-available/50-weborvane-fastcgi.conf /etc/apache2/conf-available/weborvane-fastcgi.conf \
         /etc/nginx/sites-available/weborvane-fastcgi /lib/systemd/system/weborvane-fastcgi.socket \
         /lib/systemd/system/weborvane-fastcgi@.service; do
  [ -f "$f" ] || fail "$f is missing"
done
[ ! -e /etc/systemd/system/sockets.target.wants/weborvane-fastcgi.socket ] || fail "the FastCGI socket is enabled"

exec sh "$SOURCE/tests/ops/serve.sh" lighttpd "$SOURCE" --package
