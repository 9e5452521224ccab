#!/usr/bin/env bash
# Sets up and builds (see setup.sh), then runs the whole test suite.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/setup.sh"
cd "$here/build"
ctest --output-on-failure -j2 "$@"
