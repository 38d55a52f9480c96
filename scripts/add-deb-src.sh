#!/usr/bin/env bash
# Makes Debian's source packages reachable: for every enabled binary-package source of this machine,
# adds the same source for source packages (deb-src), unless there is one already. Writes no host name
# of its own: every entry is derived from the sources the machine already has. Needs root.
set -euo pipefail

stanzas=/etc/apt/sources.list.d/zavr-deb-src.sources
lines=/etc/apt/sources.list.d/zavr-deb-src.list
if [ -e "$stanzas" ] || [ -e "$lines" ] ||
  grep -rqsE '^[[:space:]]*(Types:.*deb-src|deb-src[[:space:]])' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  exit 0
fi

# deb822 stanzas whose Types has "deb", with "deb-src" in its place. The backports suite that the Wine
# route adds is left out: its newer sources would be taken for the release's own.
for file in /etc/apt/sources.list.d/*.sources; do
  [ -e "$file" ] && [ "$(basename "$file")" != zavr-backports.sources ] || continue
  awk 'BEGIN { RS = ""; ORS = "\n\n" }
       /(^|\n)Types:[^\n]*[ \t]deb([ \t]|\n|$)/ {
         sub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print }' "$file"
done >"$stanzas"
# One-line entries, options and all.
if [ -e /etc/apt/sources.list ]; then
  sed -nE 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list >"$lines"
fi

[ -s "$stanzas" ] || rm -f "$stanzas"
[ -s "$lines" ] || rm -f "$lines"
if [ ! -e "$stanzas" ] && [ ! -e "$lines" ]; then
  echo "No binary-package source found to derive a source-package entry from." >&2
  exit 1
fi
