#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour sanitizers, in the sanitizer
# tree build-asan) and runs each one for a while on a copy of its seed corpus; a crash, leak or hang
# fails the run and leaves its input in build-fuzz/artifacts/.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     SECONDS per target (default 30), all targets by default
#
# A longer campaign is the same command with more time, e.g. scripts/fuzz.sh 3600 PrintCommand.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true

# The sanitizer tree of the test command, which holds the fuzz targets too.
scripts/configure-sanitizer-tree.sh
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for source in fuzz/*Fuzzer.cpp; do
        name=$(basename "$source" .cpp)
        targets+=("${name%Fuzzer}")
    done
fi
cmake --build build-asan -j"$(nproc)" --target $(printf '%sFuzzer ' "${targets[@]}")

mkdir -p build-fuzz/artifacts
status=0
for target in "${targets[@]}"; do
    # The run adds what it finds to a work copy; the seeds in the tree stay as they are.
    work="build-fuzz/corpus/$target"
    mkdir -p "$work"
    [ -d "fuzz/corpus/$target" ] && cp -n fuzz/corpus/"$target"/* "$work"/ 2>/dev/null || true
    flags=()
    [ -f "fuzz/$target.flags" ] && read -r -a flags <"fuzz/$target.flags"
    echo "== fuzzing $target for ${seconds} s"
    if ! ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
        "build-asan/bin/${target}Fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 \
        -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$target-" "${flags[@]}" \
        "$work" >"build-fuzz/$target.log" 2>&1; then
        echo "!! $target failed; its log: build-fuzz/$target.log"
        tail -n 40 "build-fuzz/$target.log"
        status=1
    else
        grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "build-fuzz/$target.log" | tail -n 2 || true
    fi
done
exit $status
