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
oct "pkg install '$archive';
     info = pkg ('list');  % local and global alike
     assert (numel (info) == 1 && strcmp (info{1}.name, 'quibra'));
     assert (strcmp (info{1}.version, '$version'));" ||
  fail "pkg install"
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
