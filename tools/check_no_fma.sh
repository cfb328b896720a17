#!/usr/bin/env bash
# Passes only when the module's machine code holds no fused multiply-add
# (which rounds once where the arithmetic rounds twice) but where the code
# asks for one: the quotient without a division of the wide lane paths
# (numeric/lanes.h), inlined into their fit_range_4 and fit_range_8, the
# parts these run as functions of their own (lane_code<4> and lane_code<8>),
# and sums_run_4 and sums_run_8, which time the widths. With
# --wide, also only when it holds AVX2 and AVX-512 code (else the check
# could pass on wide paths that were never compiled as such: g++ builds
# them so on x86-64, clang 14 leaves them at the baseline).
#   tools/check_no_fma.sh [--wide] MODULE
set -euo pipefail
wide=0
if [ "${1:-}" = --wide ]; then
  wide=1
  shift
fi
module=${1:?usage: $0 [--wide] MODULE}
code=$(objdump -d --no-show-raw-insn "$module")
# Each fused instruction with the function it lies in.
fused=$(awk '/^[0-9a-f]+ <.*>:$/ { fn = $2 }
             /[ \t]vfn?m(add|sub)[0-9a-z]*[ \t]/ { print fn ": " $0 }' <<<"$code")
stray=$(grep -vE '^<[^>]*((fit_range|sums_run)_[48]|_ZN9lane_codeILi[48]EE3run)[^>]*>:' <<<"$fused" || true)
if [ -n "$stray" ]; then
  echo "fused multiply-add outside the wide paths' quotient in $module:" >&2
  head -20 <<<"$stray" >&2
  exit 1
fi
if [ $wide -eq 1 ]; then
  grep -qE '%ymm' <<<"$code" || { echo "no AVX2 path in $module" >&2; exit 1; }
  grep -qE '%zmm' <<<"$code" || { echo "no AVX-512 path in $module" >&2; exit 1; }
  # The quotient must be there, or the wide paths divide after all.
  [ -n "$fused" ] || { echo "no quotient in the wide paths of $module" >&2; exit 1; }
fi
echo "$module: fused multiply-add only in the wide paths' quotient ($(grep -c . <<<"$fused" || true) instructions)"
