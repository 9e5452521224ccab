#!/usr/bin/env bash
# Builds every libFuzzer target with clang and runs each for a bounded time.
# Usage: scripts/fuzz.sh [seconds-per-target]   (default 60)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
secs="${1:-60}"
build="$here/build-fuzz"
cmake -S "$here" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DARBOR_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug \
      -DLIBPD_SOURCE_DIR="$here/build/_deps/puredata" >/dev/null
cmake --build "$build" --target fuzzers -j"$(nproc)"
status=0
while read -r target; do
    [ -n "$target" ] || continue
    corpus="$here/fuzz/corpus-$target"
    seeds="$here/fuzz/seeds/$target"
    mkdir -p "$corpus"
    echo "== $target for ${secs}s"
    args=("$corpus")
    [ -d "$seeds" ] && args+=("$seeds")
    if ! (cd "$build" && QT_QPA_PLATFORM=offscreen ./"$target" -max_total_time="$secs" \
            -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 "${args[@]}" 2>"$build/$target.log"); then
        echo "!! $target found a problem; see $build/$target.log"
        tail -n 40 "$build/$target.log"
        status=1
    else
        grep -E 'stat::number_of_executed_units|Done' "$build/$target.log" | tail -n 2 || true
    fi
done < "$build/fuzzers.txt"
exit $status
