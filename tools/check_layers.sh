#!/usr/bin/env bash
# The module's dependencies point one way: numeric <- smoother <- gateway,
# all of them on host/, and only host/ talks to the host's library.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 2
fail=0
complain() { echo "layering: $*"; fail=1; }

# Host API calls (mx*/mex* functions) anywhere but host/; gateway/ may only
# define mexFunction and name the mxArray type.
hits=$(grep -nE '\b(mx|mex)[A-Z][A-Za-z_0-9]*[[:space:]]*\(' gateway/* smoother/* numeric/* |
       grep -v 'mexFunction(')
[ -n "$hits" ] && complain "host API used outside host/:"$'\n'"$hits"
hits=$(grep -nE '#include[[:space:]]*[<"]mex\.h[>"]' gateway/* smoother/* numeric/*)
[ -n "$hits" ] && complain "mex.h included outside host/:"$'\n'"$hits"
hits=$(grep -nE '#include[[:space:]]*"(smoother|gateway)/' numeric/*)
[ -n "$hits" ] && complain "numeric/ depends on a higher layer:"$'\n'"$hits"
hits=$(grep -nE '#include[[:space:]]*"gateway/' smoother/*)
[ -n "$hits" ] && complain "smoother/ depends on gateway/:"$'\n'"$hits"
hits=$(grep -nE '#include[[:space:]]*"(numeric|smoother|gateway)/' host/*)
[ -n "$hits" ] && complain "host/ depends on a higher layer:"$'\n'"$hits"
exit $fail
