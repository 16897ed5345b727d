#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan, UBSan) and runs each for FUZZ_SECONDS
# (30 by default), starting from the seeds in fuzz/seeds. Any finding fails the run;
# the input that caused it is left in build-fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-30}

cmake --preset fuzz > /dev/null
cmake --build build-fuzz -j"$(nproc)"
mkdir -p build-fuzz/findings

for target in options verdicts role_command; do
    corpus=$(mktemp -d)
    echo "fuzzing $target for ${seconds}s"
    if ! build-fuzz/fuzz/${target}_fuzz -max_total_time="$seconds" -print_final_stats=0 \
        -artifact_prefix=build-fuzz/findings/ "$corpus" "fuzz/seeds/$target" \
        > "build-fuzz/$target.log" 2>&1; then
        tail -n 40 "build-fuzz/$target.log"
        rm -rf "$corpus"
        echo "fuzz: $target found a fault" >&2
        exit 1
    fi
    grep -E '^Done [0-9]+ runs' "build-fuzz/$target.log" || true
    rm -rf "$corpus"
done
