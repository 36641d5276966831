#!/usr/bin/env bash
# Runs each fuzz program for a bounded time: run-fuzzers.sh BUILD_DIR SECONDS NAME...
# The stored corpus in tests/fuzz/corpus/NAME seeds it and is only read; what the run learns
# goes to BUILD_DIR/fuzz/corpus/NAME. A broken property or crash leaves its input in
# BUILD_DIR/fuzz/artifacts/ and fails the run.
set -euo pipefail
build=$1
seconds=$2
shift 2
top=$(cd "$(dirname "$0")/.." && pwd)
status=0
for name in "$@"; do
    work="$build/fuzz/corpus/$name"
    artifacts="$build/fuzz/artifacts/$name/"
    mkdir -p "$work" "$artifacts"
    echo "fuzz-$name: ${seconds}s"
    if ! "$build/fuzz/fuzz-$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$artifacts" -print_final_stats=1 "$work" "$top/tests/fuzz/corpus/$name" \
        > "$build/fuzz/$name.log" 2>&1; then
        status=1
        tail -n 40 "$build/fuzz/$name.log"
        echo "fuzz-$name failed; the input is in $artifacts"
    else
        grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$build/fuzz/$name.log" | sed "s/^/  /"
    fi
done
exit $status
