#!/usr/bin/env bash
# Passes only when MODULE is a loadable shared object whose one exported
# symbol is the function mexFunction: a missing or broken module, a missing
# entry point or any other export fails.
#   tools/check_exports.sh MODULE
set -euo pipefail
module=${1:?usage: $0 MODULE}
[ -f "$module" ] || { echo "no module at $module" >&2; exit 1; }
# nm fails on a file that is not an object; -D reads the dynamic symbol table.
symbols=$(nm -D --defined-only "$module")
exports=$(awk '{print $NF}' <<<"$symbols" | sort -u)
if [ "$exports" != mexFunction ]; then
  echo "exports of $module are not exactly mexFunction:" >&2
  echo "${exports:-(none)}" >&2
  exit 1
fi
# A function in the text section, not data of that name.
awk '$NF == "mexFunction" {print $(NF-1)}' <<<"$symbols" | grep -qx T ||
  { echo "mexFunction is not a function in $module" >&2; exit 1; }
echo "$module exports mexFunction only"
