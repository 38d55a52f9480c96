#!/usr/bin/env bash
# A 32-bit Wine for a machine whose package archive cannot install the host's wine32:i386 (its i386
# security index out of step with the rest, say): an i386 Debian root holding Wine and what it needs from
# the release's main suite alone, so that every version agrees. Built once per machine and kept;
# scripts/with-wine.sh runs programs with it.
# The packages are only unpacked, on the host, which takes a minute where a bootstrap that configures
# each package through an emulator takes twenty; the few of their installation steps that Wine needs are
# done here: the dynamic linker's cache, Wine's builtin zlib (libwine's own script), the commands' plain
# names, and the files a lone root lacks (accounts, host names).
# Prints the root's folder (see scripts/lib/wine-root.sh). Needs root.
# Exit status: 0 ready; 1 it cannot be built here (what and why is said); 2 the package archive cannot
# provide what it needs today (which and why is said).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
source scripts/lib/wine-root.sh

root=$(wine_root_folder)
if wine_root_ready; then
  echo "$root"
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "The i386 root with Wine ($root) is built by root: sudo scripts/install-deps.sh wine" >&2
  exit 1
fi
ensure_packages "the i386 root with Wine" mmdebstrap arch-test
ensure_i386_runs

codename=$(release_codename)
archive=$(main_archive)
if [ -z "$archive" ]; then
  echo "No package source of this machine serves its release $codename; I cannot build the i386 root." >&2
  exit 1
fi
new=$root.new
remove_unmounted "$new"
mkdir -p "$(dirname "$root")"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
echo "Building an i386 root with Wine from $archive $codename in $root (once; about a minute) ..." >&2
# In a mount namespace of its own, so that whatever it mounts ends with it, however it ends.
if ! unshare --mount --propagation private mmdebstrap --quiet --mode=root --arch=i386 --variant=extract \
  --aptopt='APT::Install-Recommends "false"' --skip=cleanup/apt/cache \
  --include=wine,wine32,libgnutls30,dash,coreutils,libc-bin "$codename" "$new" "$archive" >"$log" 2>&1; then
  if grep -qE 'Failed to fetch|Temporary failure|Could not (connect|resolve)|Unable to locate|has no installation candidate|Unable to correct problems' "$log"; then
    echo "The package archive cannot provide the i386 root's packages today:" >&2
    status=2
  else
    echo "mmdebstrap failed to build the i386 root:" >&2
    status=1
  fi
  tail -n 20 "$log" | sed 's/^/    /' >&2
  remove_unmounted "$new"
  exit "$status"
fi

# Wine's builtin zlib is made from the MinGW one by libwine's own installation script.
libwine=$(ls "$new"/var/cache/apt/archives/libwine_*_i386.deb)
dpkg-deb --ctrl-tarfile "$libwine" | tar -xO ./postinst >"$new/libwine.postinst"
chroot "$new" /bin/sh /libwine.postinst configure
rm -f "$new/libwine.postinst" "$new"/var/cache/apt/archives/*.deb
chroot "$new" /sbin/ldconfig
for name in wine wineboot wineserver winepath; do # the alternatives that wine's own script would set
  ln -sfn "$name-stable" "$new/usr/bin/$name"
done
mkdir -p "$new/root" "$new/proc"
echo 'root:x:0:0:root:/root:/bin/sh' >"$new/etc/passwd"
echo 'root:x:0:' >"$new/etc/group"
printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n' >"$new/etc/hosts"
printf 'passwd: files\ngroup: files\nhosts: files dns\n' >"$new/etc/nsswitch.conf"
# Wine finds itself through /proc, mounted for this check alone.
if ! version=$(unshare --mount --propagation private \
  sh -c 'mount -t proc proc "$1/proc" && chroot "$1" /usr/bin/wine --version' sh "$new" 2>&1); then
  echo "The i386 root was built, but its Wine does not start: $version" >&2
  exit 1
fi
wine_root_recipe >"$new/.built"
remove_unmounted "$root"
mv "$new" "$root"
echo "Built $version in $root" >&2
echo "$root"
