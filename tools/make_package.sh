#!/usr/bin/env bash
# Assembles the Octave package archive quibra-<version>.tar.gz, ready for
# `pkg install`:
#   tools/make_package.sh [OUTDIR]      (default: build/ in the project root)
# The module's sources come from sources.list, with the headers of their
# folders, so the package builds exactly what every other build does. The
# archive is byte-for-byte reproducible: sorted entries, fixed owner, mode
# and time stamp (the DESCRIPTION's date).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
outdir=${1:-$root/build}

field() { sed -n "s/^$1: *//p" "$root/package/DESCRIPTION"; }
version=$(field Version)
date=$(field Date)
[ -n "$version" ] && [ -n "$date" ] || { echo "package/DESCRIPTION lacks Version or Date" >&2; exit 1; }
name=quibra-$version

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
pkg=$stage/$name
mkdir -p "$pkg/inst" "$pkg/src"

cp "$root/package/DESCRIPTION" "$root/package/INDEX" "$root/COPYING" "$pkg/"
# The help file (whose %!demo blocks `demo quibra` runs) and the text demo.
cp "$root/toolbox/quibra.m" "$root/toolbox/quibra_demo.m" "$pkg/inst/"

cp "$root/package/src/Makefile" "$root/sources.list" "$root/flags.list" "$pkg/src/"
dirs=()
while read -r source; do
  case "$source" in ''|'#'*) continue ;; esac
  mkdir -p "$pkg/src/$(dirname "$source")"
  cp "$root/$source" "$pkg/src/$source"
  dirs+=("$(dirname "$source")")
done < "$root/sources.list"
shopt -s nullglob
for dir in $(printf '%s\n' "${dirs[@]}" | sort -u); do
  headers=("$root/$dir"/*.h)
  [ ${#headers[@]} -eq 0 ] || cp "${headers[@]}" "$pkg/src/$dir/"
done
cp "$root/host/exports.map" "$pkg/src/host/"

mkdir -p "$outdir"
archive=$(cd "$outdir" && pwd)/$name.tar.gz
tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner \
    --mode='u+rwX,go+rX,go-w' --mtime="$date 00:00:00Z" -cf - "$name" |
  gzip -9n > "$archive"
echo "$archive"
