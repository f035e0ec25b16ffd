#!/bin/sh
# Runs a command in a throwaway copy of this machine, as root:
#   tests/servers/sandbox.sh [--layer DIR] [--bind DIR]... -- COMMAND [ARG]...
# The copy has
#   - an overlay over the root file system: the command sees every file of
#     the machine and may change any of them (install packages, edit /etc,
#     run a2enconf), and all its changes vanish when it ends;
#   - DIR of --layer laid over the root beneath the changes (the files of
#     an unpacked package), and every --bind DIR mounted at its own path
#     (the source and build trees, should they live outside the root file
#     system);
#   - a network of its own with just a loopback, so that web servers listen
#     on their stock ports 80 and 443 without meeting other tests;
#   - a process tree of its own: whatever still runs when the command ends
#     is killed.
# Exits with the command's status; 77 (a skip for ctest) without root or
# without the kernel's namespaces and overlays.
set -eu
LAYER=""
BINDS=""
while [ $# -gt 0 ]; do
  case "$1" in
    --layer) LAYER=$(cd "$2" && pwd); shift 2 ;;
    --bind) BINDS="$BINDS $(cd "$2" && pwd)"; shift 2 ;;
    --) shift; break ;;
    *) echo "sandbox: unknown option $1" >&2; exit 2 ;;
  esac
done
if [ "$(id -u)" -ne 0 ]; then
  echo "sandbox: *** needs root (namespaces, mounts, chroot): SKIPPED ***" >&2
  exit 77
fi
if ! unshare --mount --net --pid --fork true 2>/dev/null || ! grep -qw overlay /proc/filesystems; then
  echo "sandbox: *** this kernel offers no namespaces or overlays: SKIPPED ***" >&2
  exit 77
fi
TOP=$(mktemp -d /tmp/weborvane-sandbox.XXXXXX)
trap 'rmdir "$TOP" 2>/dev/null || true' EXIT
export WO_SANDBOX_TOP="$TOP" WO_SANDBOX_LAYER="$LAYER" WO_SANDBOX_BINDS="$BINDS"
set +e
unshare --mount --net --pid --fork --kill-child --mount-proc --propagation private sh -eu -c '
  T=$WO_SANDBOX_TOP
  mount -t tmpfs -o mode=755 tmpfs "$T"
  mkdir "$T/upper" "$T/work" "$T/root"
  LOWER=/
  if [ -n "$WO_SANDBOX_LAYER" ]; then
    mkdir "$T/layer"
    cp -a "$WO_SANDBOX_LAYER/." "$T/layer/"
    LOWER="$T/layer:/"
  fi
  mount -t overlay overlay -o "lowerdir=$LOWER,upperdir=$T/upper,workdir=$T/work" "$T/root"
  mount --rbind /dev "$T/root/dev"
  mount -t proc proc "$T/root/proc"
  mount --rbind /sys "$T/root/sys"
  mount -t tmpfs -o mode=755 tmpfs "$T/root/run"
  mkdir -p "$T/root/run/lock"
  mount -t tmpfs -o mode=1777 tmpfs "$T/root/tmp"
  for d in $WO_SANDBOX_BINDS; do
    mkdir -p "$T/root$d"
    mount --bind "$d" "$T/root$d"
  done
  ip link set lo up
  unset WO_SANDBOX_TOP WO_SANDBOX_LAYER WO_SANDBOX_BINDS
  exec chroot "$T/root" "$@"
' sandbox "$@"
rc=$?
exit $rc
