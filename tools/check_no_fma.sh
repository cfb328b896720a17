#!/usr/bin/env bash
# Passes only when the module's machine code holds no fused multiply-add
# (which rounds once where the arithmetic rounds twice), on any of its
# lane paths; with --wide, also only when it holds AVX2 and AVX-512 code
# (else the check could pass on wide paths that were never compiled as
# such: g++ builds them so on x86-64, clang 14 leaves them at the baseline).
#   tools/check_no_fma.sh [--wide] MODULE
set -euo pipefail
wide=0
if [ "${1:-}" = --wide ]; then
  wide=1
  shift
fi
module=${1:?usage: $0 [--wide] MODULE}
code=$(objdump -d --no-show-raw-insn "$module")
fused=$(grep -E '\svfn?m(add|sub)[0-9a-z]*\s' <<<"$code" || true)
if [ -n "$fused" ]; then
  echo "fused multiply-add in $module:" >&2
  head -20 <<<"$fused" >&2
  exit 1
fi
if [ $wide -eq 1 ]; then
  grep -qE '%ymm' <<<"$code" || { echo "no AVX2 path in $module" >&2; exit 1; }
  grep -qE '%zmm' <<<"$code" || { echo "no AVX-512 path in $module" >&2; exit 1; }
fi
echo "$module: no fused multiply-add"
