#!/usr/bin/env bash
# Builds the libFuzzer targets (clang) and runs each for the given number of seconds on a copy
# of its seed corpus (fuzz/corpus/<target>). A crash or leak input is kept under build/fuzz-findings.
#   tools/run-fuzzers.sh [seconds] [target...]    (targets by name, e.g. fuzz_image_store; all
#   of them when none is named)
# ZEMBRAT_FUZZ_SEED fixes libFuzzer's random seed, so that a run repeats the same inputs in the
# same order (CI uses one; a shorter run then tries a prefix of what a longer one tried).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
seconds="${1:-60}"
shift || true
jobs="$(nproc 2>/dev/null || echo 2)"
seed="${ZEMBRAT_FUZZ_SEED:-}"
cmake --preset fuzz
cmake --build --preset fuzz -j "$jobs"
shopt -s nullglob
targets=(build/fuzz/fuzz/fuzz_*)
if (($# > 0)); then
    targets=()
    for name in "$@"; do targets+=("build/fuzz/fuzz/$name"); done
fi
if ((${#targets[@]} == 0)); then
    echo "no fuzz targets"
    exit 0
fi
mkdir -p build/fuzz-findings
status=0
for target in "${targets[@]}"; do
    if [[ ! -x "$target" ]]; then
        echo "FAILED: no fuzz target $target"
        status=1
        continue
    fi
    name="$(basename "$target")"
    work="build/fuzz-corpus/$name"
    rm -rf "$work" && mkdir -p "$work"
    [[ -d "fuzz/corpus/$name" ]] && cp -r "fuzz/corpus/$name/." "$work/"
    echo "-- $name for ${seconds}s${seed:+ from seed $seed}"
    if ! "$target" -max_total_time="$seconds" ${seed:+-seed="$seed"} -rss_limit_mb=4096 -print_final_stats=1 \
            -artifact_prefix="build/fuzz-findings/$name-" "$work" > "build/fuzz-findings/$name.log" 2>&1; then
        echo "FAILED: $name (see build/fuzz-findings/$name.log)"
        tail -40 "build/fuzz-findings/$name.log"
        status=1
    else
        grep -E '^stat::number_of_executed_units|Done [0-9]+ runs' "build/fuzz-findings/$name.log" | tail -1 || true
    fi
done
exit $status
