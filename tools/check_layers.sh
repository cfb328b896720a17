#!/usr/bin/env bash
# The module's dependencies point one way: numeric <- smoother <- gateway,
# all of them on host/, and only host/ talks to the host's library. Below
# the gateway only host/storage.h and host/services.h are used, which name
# no host array. The reference routines (*/reference/) serve the tests and
# the fuzzers; no module source includes them.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 2
fail=0
complain() { echo "layering: $*"; fail=1; }

# Host API calls (mx*/mex* functions) anywhere but host/; gateway/ may only
# define mexFunction and name the mxArray type.
hits=$(grep -rnE '\b(mx|mex)[A-Z][A-Za-z_0-9]*[[:space:]]*\(' gateway smoother numeric |
       grep -v 'mexFunction(')
[ -n "$hits" ] && complain "host API used outside host/:"$'\n'"$hits"
hits=$(grep -rnE '#include[[:space:]]*[<"]mex\.h[>"]' gateway smoother numeric)
[ -n "$hits" ] && complain "mex.h included outside host/:"$'\n'"$hits"
hits=$(grep -rnE '#include[[:space:]]*"host/host\.h"' smoother numeric)
[ -n "$hits" ] && complain "the host's full header below the gateway:"$'\n'"$hits"
hits=$(grep -rnE '#include[[:space:]]*"(smoother|gateway)/' numeric)
[ -n "$hits" ] && complain "numeric/ depends on a higher layer:"$'\n'"$hits"
hits=$(grep -rnE '#include[[:space:]]*"gateway/' smoother)
[ -n "$hits" ] && complain "smoother/ depends on gateway/:"$'\n'"$hits"
hits=$(grep -rnE '#include[[:space:]]*"(numeric|smoother|gateway)/' host)
[ -n "$hits" ] && complain "host/ depends on a higher layer:"$'\n'"$hits"
hits=$(grep -rnE '#include[[:space:]]*"[a-z]+/reference/' gateway host smoother numeric \
       --exclude-dir=reference)
[ -n "$hits" ] && complain "a module source includes a reference routine:"$'\n'"$hits"
while read -r source; do
  case "$source" in ''|'#'*) continue ;; */reference/*) complain "$source is a reference routine, not a module source" ;; esac
done < sources.list
exit $fail
