#!/bin/sh
# Runs PROGRAM ARGS... with /tmp a tmpfs mounted nosuid,nodev, as systemd
# mounts it, in a mount namespace of its own, so that what the host refuses
# there is tested wherever /tmp lies. Exits 77 (skipped) with the reason
# where that namespace or mount cannot be made.
case $(realpath "$1") in
/tmp/*)
    echo "skipped: the program lies in /tmp, which the test covers with a new tmpfs"
    exit 77
    ;;
esac
if ! reason=$(unshare -m --propagation private true 2>&1); then
    echo "skipped: no private mount namespace here: $reason"
    exit 77
fi
exec unshare -m --propagation private sh -c '
    if ! reason=$(mount -t tmpfs -o nosuid,nodev tmpfs /tmp 2>&1); then
        echo "skipped: no tmpfs can be mounted on /tmp here: $reason"
        exit 77
    fi
    exec "$@"' on_nodev_tmp "$@"
