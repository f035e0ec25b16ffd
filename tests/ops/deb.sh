#!/bin/sh
# The Debian package: built by scripts/make-deb (which runs lintian), then,
# in a throwaway copy of this machine (sandbox.sh), installed as a centre
# installs it, upgraded, and serving the demonstration centre:
#   deb.sh SOURCE BUILD
# An earlier version of the package is made from the built one: version
# 0.9, whose default Fin/index.html and Fin/login.html differ from this
# version's. The earlier one is installed, the site logs a user in, edits
# Fin/index.html and Eng/login.html; after the upgrade the INI file (with
# the key its postinst wrote), both edited templates and the log-in are as
# they were, while the unedited Fin/login.html has this version's default.
set -eu
SOURCE=$1
BUILD=$2
OUT="$BUILD/deb-test"
JOBS=2 "$SOURCE/scripts/make-deb" "$OUT"
NEW=$(ls "$OUT"/weborvane_*.deb)

work="$OUT/earlier"
rm -rf "$work"
dpkg-deb -R "$NEW" "$work"
sed -i 's/^Version: .*/Version: 0.9/' "$work/DEBIAN/control"
for f in Fin/index.html Fin/login.html; do
  echo "<!-- an older default -->" >> "$work/etc/weborvane/templates/$f"
  sum=$(cd "$work" && md5sum "etc/weborvane/templates/$f")
  sed -i "s|^[0-9a-f]*  etc/weborvane/templates/$f\$|$sum|" "$work/DEBIAN/conffiles" 2>/dev/null || true
done
(cd "$work" && find . -type f ! -path './DEBIAN/*' ! -path './etc/*' -printf '%P\0' | xargs -0 md5sum > DEBIAN/md5sums)
OLD="$OUT/weborvane_0.9_test.deb"
dpkg-deb -b --root-owner-group "$work" "$OLD" >/dev/null

exec "$SOURCE/tests/ops/sandbox.sh" --bind "$SOURCE" --bind "$BUILD" -- \
  sh "$SOURCE/tests/ops/deb-upgrade.sh" "$SOURCE" "$OLD" "$NEW"
