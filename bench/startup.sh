#!/usr/bin/env bash
# Runs the start-up benchmark on a virtual display.
# Usage: bench/startup.sh [build folder]   (default: ./build)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build}"
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bench_startup"
