#!/bin/sh
# The booking road through one of the web servers Debian ships, set up as
# the shipped drop-in says, inside tests/ops/sandbox.sh:
#   serve.sh SERVER SOURCE BUILD
#   serve.sh SERVER SOURCE --package
# where SERVER is lighttpd, apache or nginx (the program run as CGI) or
# lighttpd-fastcgi, apache-fastcgi or nginx-fastcgi (as FastCGI workers:
# started by mod_fastcgi, by mod_fcgid, and by spawn-fcgi as the systemd
# units would).
# Installs BUILD into /srv/weborvane and loads the demonstration centre (or
# takes the installed package's site in /usr/lib/weborvane as its postinst
# left it, the demonstration centre loaded by the caller), puts a certificate for booking.example.org where the
# drop-in's placeholders point, enables the drop-in with the distribution's
# own tools on top of the distribution's main configuration, starts the
# server (which runs the program as www-data) on its stock ports, walks
# road.mjs through it and runs `weborvane-admin check` against it.
# Afterwards the access log must hold requests but no query string.
set -eu
SERVER=$1
SOURCE=$2
BUILD=$3
HOST=booking.example.org
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin

if [ "$BUILD" = --package ]; then
  P=/usr/lib/weborvane
else
  P=/srv/weborvane
  cmake --install "$BUILD" --prefix "$P" >/dev/null
  "$P/bin/weborvane-admin" init >/dev/null
  "$P/bin/weborvane-admin" demo >/dev/null
  "$P/bin/weborvane-admin" translations import "$P/share/weborvane/eng.tsv" >/dev/null
  chown -R www-data: "$P/data" "$P/log"
  DROPIN="$P/share/weborvane/server"
  cp "$DROPIN/lighttpd.conf" /etc/lighttpd/conf-available/50-weborvane.conf
  cp "$DROPIN/apache.conf" /etc/apache2/conf-available/weborvane.conf
  cp "$DROPIN/nginx.conf" /etc/nginx/sites-available/weborvane
  cp "$DROPIN/lighttpd-fastcgi.conf" /etc/lighttpd/conf-available/50-weborvane-fastcgi.conf
  cp "$DROPIN/apache-fastcgi.conf" /etc/apache2/conf-available/weborvane-fastcgi.conf
  cp "$DROPIN/nginx-fastcgi.conf" /etc/nginx/sites-available/weborvane-fastcgi
fi

mkdir -p /etc/ssl/certs /etc/ssl/private
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$HOST" -addext "subjectAltName=DNS:$HOST" \
  -keyout /etc/ssl/private/ssl-cert-snakeoil.key -out /etc/ssl/certs/ssl-cert-snakeoil.pem 2>/dev/null
# Trusted here, as a real certificate would be, by the check command below.
cp /etc/ssl/certs/ssl-cert-snakeoil.pem /usr/local/share/ca-certificates/weborvane-test.crt
update-ca-certificates >/dev/null 2>&1
echo "127.0.0.1 $HOST" >> /etc/hosts

case "$SERVER" in
  lighttpd)
    lighty-enable-mod weborvane >/dev/null
    lighttpd -tt -f /etc/lighttpd/lighttpd.conf
    lighttpd -f /etc/lighttpd/lighttpd.conf
    LOG=/var/log/lighttpd/weborvane-access.log
    stop() { kill "$(cat /run/lighttpd.pid)"; }
    ;;
  apache)
    a2enmod -q cgid headers ssl
    a2enconf -q weborvane
    apache2ctl configtest
    apache2ctl start
    LOG=/var/log/apache2/weborvane-access.log
    stop() { apache2ctl stop; }
    ;;
  nginx)
    ln -s ../sites-available/weborvane /etc/nginx/sites-enabled/weborvane
    # What Debian's fcgiwrap.socket and fcgiwrap.service do under systemd:
    # the socket, owned by www-data, served by fcgiwrap running as www-data.
    spawn-fcgi -s /run/fcgiwrap.socket -M 0660 -u www-data -g www-data -U www-data -G www-data \
      -- /usr/sbin/fcgiwrap -f >/dev/null
    nginx -t -q
    nginx
    LOG=/var/log/nginx/weborvane-access.log
    stop() { nginx -s quit; }
    ;;
  lighttpd-fastcgi)
    # What Debian's lighttpd service makes before it starts.
    install -d -o www-data -g www-data /run/lighttpd
    lighty-enable-mod weborvane-fastcgi >/dev/null
    lighttpd -tt -f /etc/lighttpd/lighttpd.conf
    lighttpd -f /etc/lighttpd/lighttpd.conf
    LOG=/var/log/lighttpd/weborvane-access.log
    stop() { kill "$(cat /run/lighttpd.pid)"; }
    ;;
  apache-fastcgi)
    a2enmod -q fcgid headers ssl
    a2enconf -q weborvane-fastcgi
    apache2ctl configtest
    apache2ctl start
    LOG=/var/log/apache2/weborvane-access.log
    stop() { apache2ctl stop; }
    ;;
  nginx-fastcgi)
    ln -s ../sites-available/weborvane-fastcgi /etc/nginx/sites-enabled/weborvane-fastcgi
    # What weborvane-fastcgi.socket and four weborvane-fastcgi@.service
    # units do under systemd: the socket, owned by www-data, and workers
    # running as www-data in www/cgi-bin with it as their standard input.
    spawn-fcgi -s /run/weborvane-fastcgi.socket -M 0660 -u www-data -g www-data -U www-data -G www-data \
      -d "$P/www/cgi-bin" -F 4 -- "$P/www/cgi-bin/WebOrvane.exe" >/dev/null
    nginx -t -q
    nginx
    LOG=/var/log/nginx/weborvane-access.log
    stop() { nginx -s quit; }
    ;;
  *) echo "serve.sh: unknown server $SERVER" >&2; exit 2 ;;
esac

i=0
until curl -s -o /dev/null --resolve "$HOST:443:127.0.0.1" --cacert /etc/ssl/certs/ssl-cert-snakeoil.pem \
    "https://$HOST/weborvane.css"; do
  i=$((i + 1))
  [ $i -lt 100 ] || { echo "serve.sh: $SERVER does not answer on port 443" >&2; exit 1; }
  sleep 0.1
done

rc=0
node "$SOURCE/tests/ops/road.mjs" --host "$HOST" --ca /etc/ssl/certs/ssl-cert-snakeoil.pem || rc=1
case "$SERVER" in *-fastcgi)
  # The pages came from workers that are still there, as www-data.
  workers=$(pgrep -u www-data -x WebOrvane.exe | wc -l)
  if [ "$workers" -lt 1 ]; then
    echo "serve.sh: no FastCGI worker of $SERVER is running" >&2
    rc=1
  else
    echo "serve.sh: $SERVER served the road with $workers FastCGI workers"
  fi ;;
esac
if ! "$P/bin/weborvane-admin" check "http://$HOST/" >/tmp/check.out 2>&1 ||
   ! grep -q 'four security headers' /tmp/check.out; then
  cat /tmp/check.out >&2
  echo "serve.sh: weborvane-admin check finds fault with the site" >&2
  rc=1
fi
stop
sleep 1  # the servers write their logs out as they end

if [ ! -s "$LOG" ]; then
  echo "serve.sh: $SERVER wrote no access log $LOG" >&2
  rc=1
elif grep -E 'Koodi=|ID=|\?' "$LOG" >&2; then
  echo "serve.sh: the access log of $SERVER above holds query strings" >&2
  rc=1
else
  echo "serve.sh: $SERVER logged $(wc -l < "$LOG") requests, none with its query string"
fi
if [ -s "$P/log/WebOrvane.log" ]; then
  echo "serve.sh: the program logged errors:" >&2
  cat "$P/log/WebOrvane.log" >&2
  rc=1
fi
exit $rc
