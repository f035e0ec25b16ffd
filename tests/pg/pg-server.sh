#!/bin/sh
# A throwaway PostgreSQL server for the tests:
#   tests/pg/pg-server.sh start   initdb into a fresh folder, start on
#                                 127.0.0.1 port $WO_PG_PORT (16000)
#   tests/pg/pg-server.sh stop    stop it and remove the folder
# The server runs as an unprivileged user (the "postgres" system user when
# started by root, otherwise the caller), trusts local TCP connections and
# has the role $WO_PG_USER ("weborvane") with CREATEDB, which the tests use.
#
# Several test runs (build trees) may share the server: each start takes a
# lease named by $WO_PG_LEASE (default: the current folder), each stop
# gives its lease back, and the server stops with the last lease. Starts
# and stops run one at a time under a lock file.
set -eu

PORT="${WO_PG_PORT:-16000}"
ROLE="${WO_PG_USER:-weborvane}"
DIR="${WO_PG_DIR:-/tmp/weborvane-pg-$PORT}"
LEASES="$DIR.leases"
LEASE="$(printf '%s' "${WO_PG_LEASE:-$(pwd)}" | cksum | cut -d' ' -f1)"
LOCK="$DIR.lock"

bindir() {
  for d in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
    if [ -x "$d/initdb" ] && [ -x "$d/pg_ctl" ]; then echo "$d"; return 0; fi
  done
  return 1
}

if [ "$(id -u)" -eq 0 ]; then
  RUNAS=postgres
  if ! id "$RUNAS" >/dev/null 2>&1; then
    useradd --system --no-create-home --shell /usr/sbin/nologin "$RUNAS"
  fi
  as_user() { su -s /bin/sh "$RUNAS" -c "$*" 9>&-; }
else
  RUNAS=$(id -un)
  as_user() { sh -c "$*" 9>&-; }
fi

start() {
  if ! BIN=$(bindir); then
    # The tests skip, loudly, on a machine without PostgreSQL.
    echo "pg-server: *** no PostgreSQL server programs under /usr/lib/postgresql:" \
         "the PostgreSQL tests will be SKIPPED (scripts/install-deps installs them) ***" >&2
    exit 0
  fi
  if [ -f "$DIR/data/postmaster.pid" ] && as_user "'$BIN/pg_ctl' -D '$DIR/data' status" >/dev/null 2>&1; then
    mkdir -p "$LEASES" && touch "$LEASES/$LEASE"
    echo "pg-server: already running in $DIR"
    return 0
  fi
  rm -rf "$LEASES"
  rm -rf "$DIR"
  mkdir -p "$DIR"
  chown "$RUNAS" "$DIR"
  chmod 700 "$DIR"
  as_user "'$BIN/initdb' -D '$DIR/data' -U postgres -E UTF8 --locale=C --auth=trust" >"$DIR/initdb.log" 2>&1 ||
    { cat "$DIR/initdb.log" >&2; exit 1; }
  cat >>"$DIR/data/postgresql.conf" <<CONF
listen_addresses = '127.0.0.1'
port = $PORT
unix_socket_directories = '$DIR'
fsync = off
synchronous_commit = off
full_page_writes = off
max_connections = 60
CONF
  cat >"$DIR/data/pg_hba.conf" <<HBA
local all all trust
host all all 127.0.0.1/32 trust
HBA
  as_user "'$BIN/pg_ctl' -D '$DIR/data' -l '$DIR/server.log' -w -t 60 start" >/dev/null ||
    { cat "$DIR/server.log" >&2; exit 1; }
  as_user "'$BIN/psql' -h '$DIR' -p $PORT -U postgres -d postgres -qAt -c \"CREATE ROLE $ROLE LOGIN CREATEDB\"" >/dev/null
  mkdir -p "$LEASES" && touch "$LEASES/$LEASE"
  echo "pg-server: running on 127.0.0.1:$PORT (role $ROLE), data in $DIR"
}

stop() {
  rm -f "$LEASES/$LEASE"
  if [ -n "$(ls -A "$LEASES" 2>/dev/null)" ]; then
    echo "pg-server: still used by $(ls -A "$LEASES" | wc -l) other test run(s)"
    return 0
  fi
  if [ -d "$DIR/data" ]; then
    BIN=$(bindir) || true
    if [ -n "${BIN:-}" ]; then
      as_user "'$BIN/pg_ctl' -D '$DIR/data' -m immediate -w stop" >/dev/null 2>&1 || true
    fi
  fi
  rm -rf "$DIR" "$LEASES"
  echo "pg-server: stopped"
}

# The lock's descriptor is closed for every command run as the server's user
# (see as_user), so the server itself never inherits and holds the lock.
exec 9>"$LOCK"
flock 9
case "${1:-}" in
  start) start ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
