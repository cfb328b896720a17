#!/usr/bin/env bash
# The safety checks behind `tools/quibra.sh check`, which installs what they
# need first. Every step runs even when an earlier one failed; the last line
# sums them up and the exit status is nonzero if any failed.
#
#   sanitizers   unit tests under AddressSanitizer + UBSan, g++ (build-asan)
#   fuzz-build   libFuzzer targets and unit tests under ASan + UBSan, clang
#                (build-fuzz); the unit tests run here too
#   threads      the threaded paths (unit tests of threads, golden calls on
#                every lane width and thread count, allocation failures and
#                interrupts of shared calls) under ThreadSanitizer, clang
#                (build-tsan)
#   fuzz         each fuzz target for a bounded time (QUIBRA_FUZZ_SECONDS
#                overrides the per-target seconds); the whole-call target
#                a third of its time on each lane width, on 1, 2 and 3 threads
#   warnings     -Wall -Wextra -Werror builds of the module, g++ and clang++
#   cppcheck     over the module, the stand-in host and the fuzz drivers
#   clang-tidy   over the module, with the checked-in .clang-tidy
#   memcheck     valgrind over Octave running tests/host/quibra.tst and
#                golden.tst; fails only on errors inside a MEX call, and
#                proves with a faulty canary module that it would see them
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QUIBRA_BUILD_DIR:-$root/build}
jobs=$(nproc)
octave_flags=(--no-gui --no-window-system --no-init-file --no-history --quiet)
logs="$root/build-check"
mkdir -p "$logs"

# Seconds per fuzz target: the call-level target gets the most.
declare -A fuzz_seconds=([gateway]=60 [select_rank]=30 [merge_sort]=30 [invert_matrix]=30
                         [fit_polynomial]=30 [quotient]=20 [fast]=60)
fuzz_targets=(gateway select_rank merge_sort invert_matrix fit_polynomial quotient fast)

module_sources=()
while IFS= read -r line; do
  [[ "$line" =~ ^[^#] ]] && module_sources+=("$root/$line")
done < "$root/sources.list"

summary=()
# The fuzz findings, shown again after the summary.
findings="$logs/fuzz_findings.txt"
: >"$findings"
passed=0
failed=0

# step NAME FUNCTION: runs FUNCTION with errexit in force (a subshell not in
# a condition, where bash would ignore -e) and records the outcome.
step() {
  local name=$1 start rc
  shift
  echo
  echo "=== $name"
  start=$(date +%s)
  (set -e; "$@")
  rc=$?
  local took=$(( $(date +%s) - start ))
  if [ $rc -eq 0 ]; then
    passed=$((passed + 1))
    summary+=("$(printf '  %-11s passed  (%ds)' "$name" "$took")")
  else
    failed=$((failed + 1))
    summary+=("$(printf '  %-11s FAILED  (%ds)' "$name" "$took")")
  fi
}

configure() {  # configure DIR CXX ARGS...
  local dir=$1 cxx=$2
  shift 2
  # Line tables only: enough for every report's stack trace, and a fifth
  # less build time than full debug information on the flattened kernels.
  CXX=$cxx cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "$@" >/dev/null
}

sanitizers() {
  configure "$root/build-asan" g++ -DQUIBRA_OCTAVE=OFF -DQUIBRA_TESTS=ON -DQUIBRA_SANITIZE=ON \
    -DCMAKE_CXX_FLAGS=-Werror
  cmake --build "$root/build-asan" -j"$jobs"
  cd "$root/build-asan"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j"$jobs"
}

fuzz_build() {
  configure "$root/build-fuzz" clang++ -DQUIBRA_OCTAVE=OFF -DQUIBRA_TESTS=ON -DQUIBRA_SANITIZE=ON \
    -DQUIBRA_FUZZ=ON -DCMAKE_CXX_FLAGS=-Werror
  cmake --build "$root/build-fuzz" -j"$jobs"
  cd "$root/build-fuzz"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j"$jobs"
}

threads() {
  configure "$root/build-tsan" clang++ -DQUIBRA_OCTAVE=OFF -DQUIBRA_TESTS=ON \
    "-DCMAKE_CXX_FLAGS=-Werror -fsanitize=thread -fno-omit-frame-pointer" \
    -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread
  cmake --build "$root/build-tsan" -j"$jobs" --target unit_tests
  # Any report fails the run.
  TSAN_OPTIONS="halt_on_error=1 exitcode=66" "$root/build-tsan/tests/unit_tests" \
    --gtest_filter='Threads.*:Lanes.*:Golden.*:Memory.*:Interrupt.*' --gtest_brief=1
}

# The whole-call target's runs: lane width and thread count of each, with
# even tiny calls shared among the threads.
gateway_paths=("2 1" "4 2" "8 3")

fuzz() {
  local t t_label secs work log status=0 run lanes threads
  local runs=()
  for t in "${fuzz_targets[@]}"; do
    if [ "$t" = gateway ]; then
      for run in "${gateway_paths[@]}"; do runs+=("$t $run"); done
    else
      runs+=("$t 0 0")
    fi
  done
  for run in "${runs[@]}"; do
    read -r t lanes threads <<<"$run"
    secs=${QUIBRA_FUZZ_SECONDS:-${fuzz_seconds[$t]}}
    local -a env=()
    if [ "$lanes" != 0 ]; then
      secs=$(( (secs + 2) / 3 ))
      env=(QUIBRA_LANES="$lanes" QUIBRA_NUM_THREADS="$threads" QUIBRA_THREAD_MIN_PAIRS=0)
      t_label="$t (lanes $lanes, threads $threads)"
    else
      t_label=$t
    fi
    # New inputs go to a scratch corpus; the committed seeds are read only.
    work=$(mktemp -d)
    log="$logs/fuzz_$t.log"
    if env "${env[@]}" "$root/build-fuzz/fuzz/fuzz_$t" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$logs/$t-" "$work" "$root/fuzz/corpus/$t" \
        >"$log" 2>&1; then
      printf '  %-36s %10s executions in %ss, corpus %s\n' "$t_label" \
        "$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")" "$secs" \
        "$(find "$work" "$root/fuzz/corpus/$t" -type f | wc -l)"
    else
      echo "  $t_label: FINDING (log $log, input saved as $logs/$t-*)"
      grep -E -A25 'ERROR|FUZZ CHECK FAILED|runtime error' "$log" | head -60
      # What the finding was and its input, repeated at the very end of
      # the run, where a truncated log still shows them.
      {
        echo "  $t_label:"
        grep -m3 -E 'ERROR|FUZZ CHECK FAILED|runtime error|ALARM|SUMMARY' "$log" | sed 's/^/    /'
        grep -m1 -A1 'FUZZ CHECK FAILED' "$log" | tail -n 1 | sed 's/^/    /'
        grep -m1 '^Base64:' "$log" | sed 's/^/    input /'
      } >>"$findings"
      status=1
    fi
    rm -rf "$work"
  done
  return $status
}

warnings() {
  # The stand-in library and the Octave module, each compiler with its own flags.
  local name cxx
  for name in gcc clang; do
    cxx=$([ $name = gcc ] && echo g++ || echo clang++)
    configure "$root/build-warn-$name" "$cxx" -DQUIBRA_TESTS=OFF -DCMAKE_CXX_FLAGS=-Werror \
      -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
    cmake --build "$root/build-warn-$name" -j"$jobs"
    echo "  $cxx: -Wall -Wextra -Werror clean"
  done
}

static_cppcheck() {
  cppcheck --version
  # No suppressions: every finding fails the step.
  cppcheck --enable=warning,performance,portability --inconclusive --std=c++20 --language=c++ \
    --error-exitcode=1 --quiet -I "$root" -I "$root/standin_host" \
    "${module_sources[@]}" "$root/standin_host/standin.cpp" "$root"/fuzz/*.cpp
  echo "  no findings"
}

static_tidy() {
  clang-tidy --version | head -2
  # The compile database of the clang warnings build: the module's real flags.
  clang-tidy -p "$root/build-warn-clang" --quiet "${module_sources[@]}" 2>/dev/null
  echo "  no findings"
}

# Runs Octave under memcheck with `code`; the exit status and log are left
# in memcheck_rc and the file `log`.
memcheck_run() {
  local log=$1 code=$2
  memcheck_rc=0
  valgrind --tool=memcheck --error-exitcode=99 --leak-check=no --num-callers=50 \
    --log-file="$log" octave-cli "${octave_flags[@]}" --eval "$code" >"$log.out" 2>&1 ||
    memcheck_rc=$?
}

# Error reports whose stack runs through a MEX function, i.e. ours.
module_errors() {
  sed 's/^==[0-9]*== \{0,1\}//' "$1" | awk 'BEGIN { RS = "" } /mexFunction/ { print; print "" }'
}

memcheck() {
  valgrind --version
  cmake -S "$root" -B "$build" >/dev/null
  cmake --build "$build" -j"$jobs" --target quibra_mex
  local log="$logs/memcheck.log" found
  # The call interface's tests, and the golden calls for breadth (robust
  # passes, nodes, failing fits).
  memcheck_run "$log" "addpath('$build/module'); addpath('$root/tests/host');
    setenv('QUIBRA_GOLDEN_FILE', '$root/tests/golden/cases.txt');
    ok = test('$root/tests/host/quibra.tst', 'quiet', stdout);
    ok = test('$root/tests/host/golden.tst', 'quiet', stdout) && ok;
    if (ok) disp('host tests passed'); end; exit(~ok)"
  if ! grep -q '^host tests passed' "$log.out"; then
    echo "  quibra.tst or golden.tst failed under memcheck (exit $memcheck_rc); output in $log.out"
    return 1
  fi
  found=$(module_errors "$log")
  if [ -n "$found" ]; then
    echo "  memcheck errors inside the module:"
    echo "$found" | head -80
    return 1
  fi
  echo "  quibra.tst and golden.tst: $(grep -o 'ERROR SUMMARY: [0-9]* errors' "$log" | tail -1)" \
       "(none inside a MEX call)"

  # The canary reads past an mxMalloc block: memcheck must say so.
  local canary="$logs/canary"
  mkdir -p "$canary"
  mkoctfile --mex "$root/tools/memcheck_canary.cpp" -o "$canary/memcheck_canary.mex" >/dev/null
  memcheck_run "$logs/canary.log" "addpath('$canary'); memcheck_canary();"
  found=$(module_errors "$logs/canary.log")
  if [[ "$found" == *"Invalid read"* ]]; then
    echo "  canary: memcheck reports the faulty module's invalid read, as it must"
  else
    echo "  canary: memcheck did not see the faulty module's invalid read; log $logs/canary.log"
    return 1
  fi
}

began=$(date +%s)
step sanitizers sanitizers
step fuzz-build fuzz_build
step threads threads
step fuzz fuzz
step warnings warnings
step cppcheck static_cppcheck
step clang-tidy static_tidy
step memcheck memcheck

echo
echo "Safety checks ($(( $(date +%s) - began ))s):"
printf '%s\n' "${summary[@]}"
if [ -s "$findings" ]; then
  echo "Fuzz findings (decode an input with base64 -d to replay it):"
  cat "$findings"
fi
echo "check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
