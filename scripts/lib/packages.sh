# shellcheck shell=bash
# Installing Debian packages by need; sourced by the scripts that need packages.
#
# ensure_packages PURPOSE PACKAGE...
#   0  every package is installed (nothing is touched, no root needed), or they have just been installed;
#   1  something is missing and this is not root: says which packages and the one command that installs
#      them;
#   2  the package archive cannot provide a package: says which one and why.
# An index that fails to update (a mirror out of step for a day) is reported and does not stop anything
# that can still be installed from the indexes at hand.

missing_packages() {
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || echo "$package"
  done
}

# Refreshes the package indexes once per run of the scripts, whatever calls it.
update_package_indexes() {
  [ -n "${ZAVR_APT_UPDATED:-}" ] && return 0
  export ZAVR_APT_UPDATED=1
  local output
  if ! output=$(apt-get update -q -o DPkg::Lock::Timeout=600 </dev/null 2>&1); then
    echo "Note: apt-get update could not refresh every package index; going on with the indexes at hand:" >&2
    grep -E '^(E|W|Err):' <<<"$output" | sed 's/^/    /' >&2
  fi
}

# Why apt-get cannot install one package, in its own words (empty when it can).
install_problem() {
  local output
  output=$(apt-get install -s -q --no-install-recommends "$1" </dev/null 2>&1) && return 0
  grep -E '^(E:| [^ ].*: Depends:| +Depends:)' <<<"$output" | head -n 8
}

ensure_packages() {
  local purpose=$1
  shift
  local missing
  mapfile -t missing < <(missing_packages "$@")
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages for $purpose: ${missing[*]}" >&2
    echo "Install them as root, then run this again:" >&2
    echo "    sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
    return 1
  fi
  update_package_indexes
  echo "Installing for $purpose: ${missing[*]}" >&2
  local log
  log=$(mktemp)
  if DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=600 "${missing[@]}" \
    </dev/null >"$log" 2>&1; then
    rm -f "$log"
    return 0
  fi
  local package problem named=0
  for package in "${missing[@]}"; do
    problem=$(install_problem "$package")
    [ -n "$problem" ] || continue
    named=1
    echo "The package archive cannot provide $package today:" >&2
    sed 's/^/    /' <<<"$problem" >&2
  done
  if [ "$named" -eq 0 ]; then
    echo "apt-get could not install ${missing[*]}:" >&2
    tail -n 20 "$log" | sed 's/^/    /' >&2
  fi
  rm -f "$log"
  return 2
}
