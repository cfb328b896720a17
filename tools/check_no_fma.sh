#!/usr/bin/env bash
# Passes only when the module's machine code holds no fused multiply-add
# (which rounds once where the arithmetic rounds twice), on any of its
# lane paths, and does hold the wider paths on x86-64 (else the check
# would pass on code that was never compiled).
#   tools/check_no_fma.sh MODULE
set -euo pipefail
module=${1:?usage: $0 MODULE}
code=$(objdump -d --no-show-raw-insn "$module")
fused=$(grep -E '\svfn?m(add|sub)[0-9a-z]*\s' <<<"$code" || true)
if [ -n "$fused" ]; then
  echo "fused multiply-add in $module:" >&2
  head -20 <<<"$fused" >&2
  exit 1
fi
if [ "$(uname -m)" = x86_64 ]; then
  grep -qE '%ymm' <<<"$code" || { echo "no AVX2 path in $module" >&2; exit 1; }
  grep -qE '%zmm' <<<"$code" || { echo "no AVX-512 path in $module" >&2; exit 1; }
fi
echo "$module: no fused multiply-add"
