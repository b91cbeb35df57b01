#!/usr/bin/env bash
# Runs libFuzzer targets of a fuzzing build one after another (make fuzz).
#   scripts/fuzz.sh BUILD_DIR RUNS TARGET...
# FUZZ_SECONDS=n stops each target after n seconds even when RUNS is not
# reached (0, the default: no limit).
# Each target starts from its seeds in tests/fuzz/corpus/<name>/ and the
# inputs earlier runs found (BUILD_DIR/corpus/<name>/, kept out of the
# repository). A crash, a hang or an input that needs too much memory is
# written into tests/fuzz/corpus/<name>/ (crash-..., timeout-..., oom-...),
# where the replay test picks it up. Prints executions and exec/s per target;
# exits non-zero when any target found something.
set -uo pipefail

build=$1
runs=$2
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)

# Inputs longer than this; cutting the ICY body at every offset costs the
# square of its length.
max_len() {
    case $1 in
    icy_split) echo 256 ;;
    *) echo 4096 ;;
    esac
}

summary=()
failed=0
for name in "$@"; do
    exe="$build/tests/fuzz/fuzz_$name"
    seeds="$root/tests/fuzz/corpus/$name"
    work="$build/corpus/$name"
    log="$build/fuzz-$name.log"
    mkdir -p "$work"
    echo "== fuzz_$name: $runs runs (log: $log)"
    start=$(date +%s)
    LSAN_OPTIONS="suppressions=$root/tests/lsan.supp" nice -n 10 "$exe" -runs="$runs" -max_total_time="${FUZZ_SECONDS:-0}" \
        -max_len="$(max_len "$name")" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$seeds/" \
        "$work" "$seeds" >"$log" 2>&1
    status=$?
    seconds=$(($(date +%s) - start))
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    # libFuzzer's own rate reads 0 for runs shorter than a second.
    if [ "${rate:-0}" = 0 ] && [ -n "$execs" ] && [ "$seconds" -gt 0 ]; then
        rate=$((execs / seconds))
    fi
    result=ok
    if [ "$status" -ne 0 ]; then
        result="FOUND (exit $status): $(grep -m1 -o "Test unit written to .*" "$log")"
        failed=1
    fi
    summary+=("$(printf '%-16s %12s execs %8s exec/s %6ss  %s' "$name" "${execs:-?}" \
        "${rate:-?}" "$seconds" "$result")")
    tail -3 "$log"
done

echo
echo "== fuzzing summary"
printf '%s\n' "${summary[@]}"
exit $failed
