#!/usr/bin/env bash
# The benchmark suite; not part of the tests. `tools/quibra.sh bench [ARGS]`
# installs what it needs (R too with --with-r) and runs this.
#   bash bench/run.sh            whole calls and robustness passes (stand-in host), the
#                                load case, then the module in Octave (paths, several
#                                signals, bands, 'Method' 'fast' on large data)
#   bash bench/run.sh --with-r   also quibra against R's stats::lowess, and R's loess and
#                                lowess beside 'fast' (needs r-base-core)
#   bash bench/run.sh --quick    fewer sizes, no load case
# Timings on a shared machine are noisy: compare ratios from one run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QUIBRA_BENCH_DIR:-$root/build-bench}
with_r=0
quick=0
for arg in "$@"; do
  case "$arg" in
    --with-r) with_r=1 ;;
    --quick) quick=1 ;;
    *) echo "usage: $0 [--quick] [--with-r]" >&2; exit 2 ;;
  esac
done

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUIBRA_BENCH=ON -DQUIBRA_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

echo "== whole calls through the stand-in host (CPU time) =="
filter='.*'
[ $quick -eq 1 ] && filter='n:10000/'
"$build/bench/calls_bench" --benchmark_filter="$filter"

if [ $quick -eq 0 ]; then
  echo
  echo "== load case: 10^6 points plain, 10^5 robust, each in a process of its own =="
  "$build/bench/load/quibra_load"
fi

octave=(octave-cli --no-gui --no-window-system --no-init-file --no-history --quiet)
mode=""
[ $quick -eq 1 ] && mode="'quick'"
echo
echo "== the module in Octave (wall time, median of runs) =="
"${octave[@]}" --eval "addpath('$build/module'); addpath('$root/bench'); bench_quibra($mode);"
echo
echo "== threads and register widths (wall time, median of runs) =="
"${octave[@]}" --eval "addpath('$build/module'); addpath('$root/bench'); bench_paths($mode);"
echo
echo "== several signals in one call against a call per signal (wall time, median of runs) =="
"${octave[@]}" --eval "addpath('$build/module'); addpath('$root/bench'); bench_columns($mode);"
echo
echo "== bands and the automatic span, one thread (wall time, median of runs) =="
"${octave[@]}" --eval "addpath('$build/module'); addpath('$root/bench'); bench_bands($mode);"

echo
echo "== 'Method' 'fast' against 'direct' on large data (wall time) =="
fast_args=""
[ $quick -eq 1 ] && fast_args="'quick'"
if [ $with_r -eq 1 ]; then
  fast_args="${fast_args:+$fast_args, }'r', '$(command -v Rscript)'"
fi
"${octave[@]}" --eval "addpath('$build/module'); addpath('$root/bench'); bench_fast($fast_args);"

if [ $with_r -eq 1 ]; then
  echo
  echo "== quibra against R's stats::lowess, equal work, same run =="
  "${octave[@]}" --eval "addpath('$build/module'); addpath('$root/bench'); compare_lowess('$(command -v Rscript)');"
fi
