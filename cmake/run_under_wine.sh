#!/usr/bin/env bash
# Runs a Windows test program under Wine for ctest: run_under_wine.sh WINE PROGRAM ARGS...
#
# Now and then Wine ends before the program has started at all: no output, a
# failing status, a few milliseconds. Every test program prints a header as it
# starts, so a failure with no output at all is Wine's, not the program's; it
# is started again, at most twice, and says so. Any other status is passed on.
set -u
wine=$1
shift
# Standard error stays apart (test discovery reads standard output alone); it
# is passed on once the program has ended.
log=$(mktemp)
error_log=$(mktemp)
trap 'rm -f "$log" "$error_log"' EXIT
for attempt in 1 2 3; do
    "$wine" "$@" 2>"$error_log" | tee "$log"
    status=${PIPESTATUS[0]}
    cat "$error_log" >&2
    if [ "$status" -eq 0 ] || [ -s "$log" ] || [ -s "$error_log" ] || [ "$attempt" -eq 3 ]; then
        exit "$status"
    fi
    echo "run_under_wine: Wine ended with status $status before $1 printed anything; starting it again" >&2
done
