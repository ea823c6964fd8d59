#!/usr/bin/env bash
# Builds Crestwick and runs every test.
#   bash test.sh             gcc build, all tests
#   bash test.sh --sanitize  clang build with AddressSanitizer and UndefinedBehaviorSanitizer,
#                            all tests, then every fuzz target for half a minute
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/scripts/install-deps.sh"
# A compiler cache, where the machine has one, makes builds of other checkouts quick.
if command -v ccache >/dev/null; then
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi

if [ "${1:-}" = "--sanitize" ]; then
    build="$here/build-sanitize"
    CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DCRESTWICK_SANITIZE=ON -DCRESTWICK_FUZZ=ON -DCRESTWICK_BENCH=OFF >/dev/null
else
    build="$here/build"
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$here/tests/lsan.supp:print_suppressions=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
log="$build/ctest.log"
status=0
(cd "$build" && ctest --output-on-failure -j2) 2>&1 | tee "$log" || status=$?
summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
[ -n "$summary" ] || { echo "ctest ran no test"; exit 1; }
total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
failed=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$summary")
# ctest counts a skipped test among those that did not fail; it lists each one as "(Skipped)".
skipped_tests=$(sed -n '/^The following tests did not run:/,/^$/p' "$log" |
    sed -nE 's/^[[:space:]]*[0-9]+ - (.+) \(Skipped\)$/\1/p')
skipped=$(grep -c . <<<"$skipped_tests" || true)
passed=$((total - failed - skipped))

# Each skipped test with the first line of its reason, from ctest's full record of the run:
# the line after Google Test's "Skipped", or a script's own "SKIPPED:" line.
report() {
    if [ "$skipped" -gt 0 ]; then
        echo "Skipped tests:"
        while IFS= read -r name; do
            reason=$(awk -v name="$name" '
                /^[0-9]+\/[0-9]+ Test: / { sub(/^[0-9]+\/[0-9]+ Test: /, ""); current = $0; next }
                current != name { next }
                want && NF { print; exit }
                /: Skipped$/ { want = 1; next }
                /^SKIPPED: / { sub(/^SKIPPED: /, ""); print; exit }
            ' "$build/Testing/Temporary/LastTest.log")
            echo "  $name: ${reason:-(no reason given)}"
        done <<<"$skipped_tests"
    fi
    echo "tests: $passed passed, $failed failed, $skipped skipped"
}
[ "$status" -eq 0 ] && [ "$failed" -eq 0 ] || { report; exit 1; }

if [ "${1:-}" = "--sanitize" ]; then
    # Each target starts from its seed corpus in fuzz/corpus/, copied so that the run does not
    # grow the repository, and prints the coverage it reached, so that a drop shows. A target
    # that finds a fault, lacks its seeds or data, or cannot run fails the step; what it found
    # is kept in the build folder.
    for target in "$build"/fuzz/fuzz_*; do
        [ -f "$target" ] && [ -x "$target" ] || continue
        name=$(basename "$target")
        [ -d "$here/fuzz/corpus/$name" ] || { echo "$name: no seed corpus in fuzz/corpus/$name"; exit 1; }
        corpus=$(mktemp -d)
        cp -R "$here/fuzz/corpus/$name/." "$corpus"
        "$target" -max_total_time=30 -rss_limit_mb=2048 -print_final_stats=0 \
            -artifact_prefix="$build/fuzz/$name-" "$corpus" 2>"$corpus.log" || {
            tail -40 "$corpus.log"
            echo "$name failed; its input, if it found one, is in $build/fuzz/"
            exit 1
        }
        coverage=$(grep -oE 'cov: [0-9]+' "$corpus.log" | tail -1 | cut -d' ' -f2)
        [ -n "$coverage" ] || { tail -40 "$corpus.log"; echo "$name ran no input"; exit 1; }
        echo "$name: coverage $coverage"
        rm -rf "$corpus" "$corpus.log"
    done
    echo "Every fuzz target ran clean."
fi
report
