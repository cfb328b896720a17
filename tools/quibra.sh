#!/usr/bin/env bash
# Sets up a fresh Debian machine for quibra, then
#   tools/quibra.sh demo     builds the module inside Octave, runs its demo and
#                            draws the demo figures into build/figures/,
#   tools/quibra.sh figures  redraws the figures the README shows, in docs/
#                            (for maintainers: the bytes differ from machine
#                            to machine, so only a deliberate redraw commits them),
#   tools/quibra.sh test     builds everything and runs every test,
#   tools/quibra.sh check    runs the safety checks (sanitizers, fuzzing, analysis),
#   tools/quibra.sh bench    runs the benchmark suite (bench/run.sh; not a test).
# Missing Debian packages are installed when run as root; otherwise the
# exact command to install them is printed.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QUIBRA_BUILD_DIR:-$root/build}
octave_flags=(--no-gui --no-window-system --no-init-file --no-history --quiet)

need() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing ${missing[*]} ..."
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  else
    echo "quibra needs these Debian packages; install them with:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
}

# Builds the module in toolbox/ and runs CODE in Octave there, with tools/
# on the path. The figures are drawn by gnuplot, which needs no display.
in_octave() {
  need octave-dev g++
  command -v gnuplot >/dev/null || need gnuplot-nox
  cd "$root/toolbox"
  octave-cli "${octave_flags[@]}" --eval "make_quibra (); addpath ('$root/tools'); $1"
}

case "${1:-}" in
  demo)
    # Not into docs/: a checkout stays as it was cloned.
    figures=$(realpath -m "$build/figures")
    in_octave "quibra_demo (); quibra_figures ('$figures');"
    echo "The figures of demo quibra are in $figures/"
    ;;
  figures)
    in_octave "quibra_figures ('$root/docs');"
    echo "Redrew the README's figures in $root/docs/"
    ;;
  test)
    # r-base-core: tests/host/lowess.tst compares with R's lowess.
    need octave-dev g++ make cmake libgtest-dev libboost-math-dev python3 r-base-core
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" -j"$(nproc)"
    cd "$build"
    ctest --output-on-failure -j"$(nproc)"
    ;;
  check)
    need octave-dev g++ make cmake libgtest-dev libboost-math-dev clang libclang-rt-14-dev valgrind cppcheck clang-tidy
    exec bash "$root/tools/check.sh"
    ;;
  bench)
    shift
    packages=(octave-dev g++ make cmake libbenchmark-dev libboost-math-dev)
    for arg in "$@"; do [ "$arg" = --with-r ] && packages+=(r-base-core); done
    need "${packages[@]}"
    exec bash "$root/bench/run.sh" "$@"
    ;;
  *)
    echo "usage: $0 demo|figures|test|check|bench" >&2
    exit 2
    ;;
esac
