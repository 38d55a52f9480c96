# shellcheck shell=bash
# The i386 root that holds a 32-bit Wine where the host's own wine32:i386 cannot be installed; sourced
# by scripts/install-deps.sh, scripts/build-wine-root.sh and scripts/with-wine.sh. Needs
# scripts/lib/packages.sh sourced first.

# This machine's Debian release, by its code name (bookworm).
release_codename() { (. /etc/os-release && echo "$VERSION_CODENAME"); }

# The root's folder: $ZAVR_WINE_ROOT, else /var/cache/zavr/wine-i386 (only root can build or use it).
wine_root_folder() { realpath -m "${ZAVR_WINE_ROOT:-/var/cache/zavr/wine-i386}"; }

# What a root must have been built from to be used as it is; a change of recipe builds it anew.
wine_root_recipe() { echo "wine-i386 recipe 1, $(release_codename)"; }

wine_root_ready() {
  local root
  root=$(wine_root_folder)
  [ -f "$root/.built" ] && [ "$(cat "$root/.built")" = "$(wine_root_recipe)" ]
}

host_wine_ready() { [ -z "$(missing_packages wine wine32:i386)" ]; }

# Whether any mount point lies at or below a folder, in this process's view of the mounts.
mounted_under() {
  findmnt -rn -o TARGET | sed 's/\\x20/ /g' |
    awk -v folder="$1" '$0 == folder || index($0, folder "/") == 1 { found = 1 } END { exit !found }'
}

# remove_unmounted FOLDER: removes it, unless something is mounted inside it (then says so, returns 1),
# so that nothing is ever deleted through a mount.
remove_unmounted() {
  [ -e "$1" ] || return 0
  if mounted_under "$1"; then
    echo "Something is mounted inside $1; I leave it alone. Unmount it (findmnt -R $1), then run this again." >&2
    return 1
  fi
  rm -rf "$1"
}

# The archive address that the machine's apt uses for its own release's main suite.
main_archive() {
  local codename
  codename=$(release_codename)
  apt-get indextargets --format '$(REPO_URI)' 'Identifier: Packages' "Release: $codename" 2>/dev/null | head -n 1
}

# Whether this machine runs i386 programs: natively, or through qemu's user-mode emulation registered
# with binfmt_misc.
i386_runs() { arch-test i386 >/dev/null 2>&1; }

# ensure_i386_runs: makes i386 programs run where the kernel cannot (a kernel without 32-bit
# emulation), through qemu-i386 of the backports suite registered with binfmt_misc; Debian 12's own
# qemu 7.2 lacks MAP_FIXED_NOREPLACE, and Wine then spins for many minutes. Needs root when anything is
# to be done. Status as ensure_packages'.
ensure_i386_runs() {
  ensure_packages "running i386 programs" arch-test || return
  i386_runs && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "This kernel runs no i386 code, and registering an emulator for it needs root." >&2
    return 1
  fi
  local codename qemu
  codename=$(release_codename)
  qemu=$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || true)
  if [ -z "$qemu" ] || dpkg --compare-versions "$qemu" lt 1:8; then
    add_backports "$codename" || return
    update_package_indexes
    echo "Installing qemu-user-static from $codename-backports, to run i386 programs on this kernel" >&2
    local log
    log=$(mktemp)
    if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=600 \
      -t "$codename-backports" qemu-user-static </dev/null >"$log" 2>&1; then
      echo "The package archive cannot provide qemu-user-static from $codename-backports today:" >&2
      tail -n 8 "$log" | sed 's/^/    /' >&2
      rm -f "$log"
      return 2
    fi
    rm -f "$log"
  fi
  local binfmt=/proc/sys/fs/binfmt_misc
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
  # The F flag opens the interpreter now, so that it also serves programs inside a chroot.
  [ -e "$binfmt/qemu-i386" ] && echo -1 >"$binfmt/qemu-i386"
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F' \
    >"$binfmt/register"
  i386_runs && return 0
  echo "qemu-i386 is registered, yet this machine still runs no i386 program (arch-test i386 fails)." >&2
  return 1
}

# add_backports CODENAME: the backports suite of the release, from the same archive as its main suite,
# for the machine's own architecture; apt takes nothing from it unless asked by name (its packages are NotAutomatic).
add_backports() {
  local file=/etc/apt/sources.list.d/zavr-backports.sources archive
  [ -e "$file" ] && return 0
  apt-get indextargets --format '$(RELEASE)' 'Identifier: Packages' 2>/dev/null | grep -qx "$1-backports" &&
    return 0
  archive=$(main_archive)
  if [ -z "$archive" ]; then
    echo "No package source of this machine serves its release $1, so I cannot derive $1-backports." >&2
    return 1
  fi
  cat >"$file" <<SOURCES
Types: deb
URIs: ${archive%/}
Suites: $1-backports
Components: main
Architectures: $(dpkg --print-architecture)
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  unset ZAVR_APT_UPDATED
}
