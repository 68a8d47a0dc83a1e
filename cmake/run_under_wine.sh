#!/usr/bin/env bash
# Runs a Windows test program under Wine for ctest: run_under_wine.sh WINE PROGRAM ARGS...
#
# Now and then Wine ends before the program has started at all: no output, a
# failing status, a few milliseconds. Every test program prints a header as it
# starts, so a failure with no output at all is Wine's, not the program's; it
# is started again, at most twice, and says so. Any other status is passed on.
set -u
# Wine turns file names into bytes through the Unix locale; outside UTF-8 a
# name beyond ASCII cannot be created. The tests need it whatever the caller's.
export LC_ALL=C.UTF-8
wine=$1
shift
# Standard error stays apart (test discovery reads standard output alone); it
# is passed on once the program has ended. It goes to a file, not a pipe: the
# Wine server and its services, when this program starts them, keep it open
# long after. Both files are unlinked at once, since ctest ends a runner past
# its timeout with SIGKILL, which leaves no trap to clean up.
log=$(mktemp)
error_log=$(mktemp)
exec 3>"$log" 4>"$error_log"
rm -f "$log" "$error_log"
for attempt in 1 2 3; do
    "$wine" "$@" 2>/dev/fd/4 | tee /dev/fd/3
    status=${PIPESTATUS[0]}
    cat /dev/fd/4 >&2
    if [ "$status" -eq 0 ] || [ -s /dev/fd/3 ] || [ -s /dev/fd/4 ] || [ "$attempt" -eq 3 ]; then
        exit "$status"
    fi
    echo "run_under_wine: Wine ended with status $status before $1 printed anything; starting it again" >&2
done
