#!/usr/bin/env bash
# The Octave package as a user meets it: build the archive, `pkg install` it
# in a fresh octave-cli, then in another one `pkg load quibra`, call it,
# read `help quibra`, run `demo quibra` and the golden results against the
# installed module, and finally `pkg uninstall quibra` and check that
# nothing is left. Every octave-cli uses a throw-away package prefix and
# package lists, so the user's own packages are never touched.
#   tests/host/package_roundtrip.sh [OCTAVE_CLI]
set -euo pipefail

octave=${1:-octave-cli}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export HOME=$tmp/home  # no stray writes to the user's configuration either
mkdir -p "$HOME"

fail() { echo "FAIL: $*" >&2; exit 1; }

# Runs Octave code in a fresh octave-cli whose pkg sees only the temporary
# prefix and lists; an error in the code makes octave-cli exit nonzero.
oct() {
  "$octave" --no-gui --no-window-system --no-init-file --no-history --quiet --eval "
    pkg prefix '$tmp/packages' '$tmp/arch';
    pkg local_list '$tmp/local_list';
    pkg global_list '$tmp/global_list';
    $1"
}

archive=$(bash "$root/tools/make_package.sh" "$tmp")
version=$(sed -n 's/^Version: *//p' "$root/package/DESCRIPTION")
[ "$(basename "$archive")" = "quibra-$version.tar.gz" ] || fail "archive is named $archive"

echo "== pkg install $(basename "$archive")"
# Verbose, so that the compiler's command lines can be checked below.
oct "pkg install -verbose '$archive';
     info = pkg ('list');  % local and global alike
     assert (numel (info) == 1 && strcmp (info{1}.name, 'quibra'));
     assert (strcmp (info{1}.version, '$version'));" >"$tmp/install.log" 2>&1 ||
  { cat "$tmp/install.log" >&2; fail "pkg install"; }
# The compiler has nothing to say about a clean build, not even a note.
if grep -E "^[^ ]+:[0-9]+(:[0-9]+)?: (note|warning)|^(cc1plus|g\+\+|c\+\+): (note|warning)" \
     "$tmp/install.log" >&2; then
  fail "the package build printed compiler diagnostics"
fi
# Each source is compiled by a make rule of its own, so that pkg's make
# --jobs runs them side by side, and with the flags that keep results the
# same on every machine.
sources=$(grep -c '^[^#]' "$root/sources.list")
rules=$(grep -cE "^[^ ]*mkoctfile .* -c .*\.cpp$" "$tmp/install.log" || true)
[ "$rules" -eq "$sources" ] || fail "$rules mkoctfile runs compiled a source, not one per source ($sources)"
compiles=$(grep -E "^[^ ]*(g|c|clang)\+\+[^ ]* -c .*\.cpp" "$tmp/install.log" || true)
[ "$(grep -c . <<< "$compiles")" -eq "$sources" ] ||
  fail "expected $sources compiler runs, one per source; got: $compiles"
! grep -v -- "-ffp-contract=off" <<< "$compiles" >&2 || fail "a source compiled without -ffp-contract=off"
! grep -E -- "-ffast-math|-march=" <<< "$compiles" >&2 || fail "a source compiled with -ffast-math or -march"
pkgdir=$tmp/packages/quibra-$version
[ -f "$pkgdir/quibra.mex" ] && [ -f "$pkgdir/quibra.m" ] ||
  fail "quibra.mex and quibra.m are not side by side in $pkgdir"

echo "== pkg load quibra; call, help, golden results"
# The golden cases include failed fits, which write to standard error.
oct "pkg load quibra;
     assert (strcmp (which ('quibra'), fullfile ('$pkgdir', 'quibra.mex')));
     t = 1:10;
     assert (quibra (t, 2 * t + 1, 0.5, 0, 1), 2 * t + 1, 1e-9);
     text = evalc ('help quibra');
     assert (! isempty (strfind (text, 'QUIBRA  Locally weighted polynomial scatterplot smoothing.')));
     assert (! isempty (strfind (text, 'nodes_x and nodes_y must have the same length!!!')));
     setenv ('QUIBRA_GOLDEN_FILE', '$root/tests/golden/cases.txt');
     addpath ('$here');
     assert (test ('$here/golden.tst', 'quiet', stdout));" 2>"$tmp/stderr" ||
  { cat "$tmp/stderr" >&2; fail "the installed module"; }

echo "== demo quibra"
# demo asks for <enter> between demos (the prompt then shares a line with
# the next demo's heading); figures stay off screen.
demos=$(grep -c '^%!demo' "$root/toolbox/quibra.m")
out=$(printf '\n%.0s' $(seq "$demos") |
        oct "pkg load quibra;
             set (0, 'defaultfigurevisible', 'off');
             demo quibra" 2>"$tmp/stderr") ||
  { cat "$tmp/stderr" >&2; fail "demo quibra"; }
ran=$(grep -cE 'quibra example [0-9]+:$' <<< "$out" || true)
[ "$ran" -eq "$demos" ] || fail "demo quibra ran $ran of $demos demos"
if grep -qE 'quibra example [0-9]+: failed' <<< "$out"; then
  fail "a demo failed: $(grep -A2 -E 'quibra example [0-9]+: failed' <<< "$out")"
fi
grep -q '^8 of 60 fits failed$' <<< "$out" || fail "the failed-fit demo counted otherwise"
# The several-signals demo: the spikes of channel 2 are that channel's only outliers.
for expect in 'channel 1: .*, 0 points at weight 0' 'channel 2: .*, 3 points at weight 0' \
              'channel 3: .*, 0 points at weight 0'; do
  grep -q "^$expect$" <<< "$out" || fail "the several-signals demo did not print '$expect'"
done

echo "== pkg uninstall quibra"
oct "pkg uninstall quibra;
     info = pkg ('list');  % local and global alike
     assert (isempty (info));" ||
  fail "pkg uninstall"
[ ! -e "$pkgdir" ] || fail "$pkgdir is still there"
oct "assert (! exist ('quibra'));
     try
       pkg load quibra;
       error ('pkg load found the uninstalled package');
     catch err
       assert (! isempty (strfind (err.message, 'not installed')), err.message);
     end" || fail "quibra is still reachable"

echo "package round trip: install, load, call, help, demo, uninstall all passed"
