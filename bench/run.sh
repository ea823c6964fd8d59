#!/usr/bin/env bash
# Runs every benchmark of a build folder. Each one times this program's code and the peer tool
# a user would pick instead, in the same run, and prints their ratio.
#   bash bench/run.sh [build folder]   (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
found=0
for bench in "$build"/bench/bench_*; do
    [ -f "$bench" ] && [ -x "$bench" ] || continue
    found=1
    echo "== $(basename "$bench")"
    "$bench" --benchmark_min_time=0.5
done
[ "$found" -eq 1 ] || echo "no benchmarks in $build/bench (build them first)"
# The image workflow against wimlib's and hivex's own tools, when they are installed.
if [ -x "$build/cli/crestwick-oem" ]; then
    bash "$here/bench/image-vs-peer.sh" "$build"
fi
