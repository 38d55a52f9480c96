#!/usr/bin/env bash
# Runs a command with a 32-bit Wine first on its PATH (wine, wineboot, wineserver, winepath): the
# host's own where wine32:i386 is installed, else the i386 root of scripts/build-wine-root.sh.
# With the root, the command runs in a mount namespace of its own, where the root sees the host's /proc,
# /dev, /tmp and the folder the command starts in at the same paths. Those mounts exist for the
# command's processes alone and end with them, however they end: nothing else sees them, and nothing is
# ever removed through them.
# Usage: scripts/with-wine.sh COMMAND [ARGUMENT...]
# Exit status: the command's; 1 when there is no Wine to run it with (what to do is said).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/packages.sh"
source "$here/lib/wine-root.sh"

if [ $# -eq 0 ]; then
  echo "usage: scripts/with-wine.sh COMMAND [ARGUMENT...]" >&2
  exit 2
fi
if host_wine_ready; then
  ensure_i386_runs || exit 1 # a kernel without 32-bit emulation runs the host's Wine through qemu
  exec "$@"
fi
root=$(wine_root_folder)
if ! wine_root_ready; then
  echo "There is no 32-bit Wine on this machine: run as root scripts/install-deps.sh wine" >&2
  exit 1
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "The 32-bit Wine of this machine is the i386 root $root, which only root can enter." >&2
  exit 1
fi
ensure_i386_runs # registrations with the kernel do not outlive a restart; the root does

if [ "${ZAVR_WINE_NAMESPACE:-}" != "$$" ]; then
  ZAVR_WINE_NAMESPACE='' exec unshare --mount --propagation private \
    bash -c 'ZAVR_WINE_NAMESPACE=$$ exec "$0" "$@"' "$here/with-wine.sh" "$@"
fi

# Here, in the namespace of its own.
mount -t proc proc "$root/proc"
for folder in /dev /dev/pts /dev/shm /tmp "$PWD"; do
  [ "$folder" = / ] && continue
  mkdir -p "$root$folder"
  mount --bind "$folder" "$root$folder"
done
commands=$(mktemp -d)
trap 'rm -rf "$commands"' EXIT
for name in wine wineboot wineserver winepath; do
  # In the caller's folder (or /, where the root does not see it), with the caller's environment but
  # the root's own PATH.
  cat >"$commands/$name" <<COMMAND
#!/bin/sh
exec chroot '$root' /bin/sh -c 'cd "\$1" 2>/dev/null || cd /; shift; PATH=/usr/bin:/bin exec "\$@"' sh "\$PWD" /usr/bin/$name "\$@"
COMMAND
  chmod +x "$commands/$name"
done
PATH=$commands:$PATH "$@"
