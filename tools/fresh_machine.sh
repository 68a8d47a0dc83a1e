#!/usr/bin/env bash
# Runs the README's two commands, `./dev run` and `./dev test`, on a fresh
# machine: a minimal Debian chroot made by debootstrap from the archive this
# machine uses, with no locale set, a tmpfs /tmp mounted nosuid,nodev, and the
# root a mount point, as on a real machine. Prints each command's outcome and
# time; exits 0 when both passed.
#
#   sudo tools/fresh_machine.sh [--run-only | --test-only]
#
# The run command builds and starts the window on a private Xvfb; once the
# window shows, a screenshot is taken and the window is closed.
#
# The chroot gets a network namespace of its own that reaches nothing: only
# the archive's hosts are forwarded into it, by name and port 80, through a
# Unix socket to a relay outside that connects to them alone. The chroot's
# apt therefore works as on any machine, and nothing else leaves it.
#
# The packages debootstrap fetches and the base system it makes of them are
# kept in $KESTRAFIN_FRESH_CACHE (by default /var/cache/kestrafin-fresh-machine),
# so later runs only unpack the base; the chroot itself, under $KESTRAFIN_FRESH_WORK (by default /var/tmp), goes when
# the script ends, however it ends. Logs and the screenshot stay in
# $KESTRAFIN_FRESH_OUT (by default /var/tmp/kestrafin-fresh-machine).
# The committed state of this checkout is what is tested.
set -euo pipefail

run_command=yes test_command=yes
case "${1:-}" in
"") ;;
--run-only) test_command=no ;;
--test-only) run_command=no ;;
*)
    echo "usage: $0 [--run-only | --test-only]" >&2
    exit 2
    ;;
esac

[ "$(id -u)" -eq 0 ] || { echo "$0: debootstrap, chroot and mounts need root" >&2; exit 2; }
for tool in debootstrap unshare ip python3 git; do
    command -v "$tool" >/dev/null || { echo "$0: $tool is missing" >&2; exit 2; }
done

checkout=$(cd "$(dirname "$0")/.." && pwd)
cache=${KESTRAFIN_FRESH_CACHE:-/var/cache/kestrafin-fresh-machine}
out=${KESTRAFIN_FRESH_OUT:-/var/tmp/kestrafin-fresh-machine}
. /etc/os-release
codename=$VERSION_CODENAME
arch=$(dpkg --print-architecture)
mkdir -p "$cache" "$out"

# The host's Debian entries for its own release, as "URI SUITE COMPONENTS"
# lines, from one-line and deb822 sources alike.
debian_sources() {
    local file
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$file" ] || continue
        awk '$1 == "deb" { uri = 0; for (i = 2; i <= NF; i++) if ($i !~ /^\[/ && $i !~ /\]$/) { uri = i; break }
                           if (uri) { line = $uri " " $(uri + 1); for (i = uri + 2; i <= NF; i++) line = line " " $i; print line } }' "$file"
    done
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        awk 'function flush() { if (types ~ /(^| )deb( |$)/ && enabled != "no") { n = split(uris, u, " "); m = split(suites, s, " ")
                                    for (i = 1; i <= n; i++) for (j = 1; j <= m; j++) print u[i] " " s[j] " " components }
                                types = uris = suites = components = enabled = "" }
             /^[ \t]*$/ { flush(); next }
             /^Types:/ { sub(/^Types:[ \t]*/, ""); types = $0 }
             /^URIs:/ { sub(/^URIs:[ \t]*/, ""); uris = $0 }
             /^Suites:/ { sub(/^Suites:[ \t]*/, ""); suites = $0 }
             /^Components:/ { sub(/^Components:[ \t]*/, ""); components = $0 }
             /^Enabled:/ { sub(/^Enabled:[ \t]*/, ""); enabled = tolower($0) }
             END { flush() }' "$file"
    done
}
sources=$(debian_sources | awk -v release="$codename" \
    '$2 == release || $2 == release "-updates" || $2 == release "-security"' | sort -u)
mirror=$(awk -v release="$codename" '$2 == release { print $1; exit }' <<<"$sources")
[ -n "$mirror" ] || { echo "$0: no Debian archive for $codename in /etc/apt/sources.list*" >&2; exit 2; }
if grep -qv '^http://' <<<"$sources"; then
    echo "$0: only http:// archives can be forwarded into the chroot:" >&2
    echo "$sources" >&2
    exit 2
fi

# Each archive host with the IPv4 address it has here.
hosts=()
for host in $(sed 's|^http://\([^/:]*\).*|\1|' <<<"$sources" | sort -u); do
    address=$(getent ahostsv4 "$host" | awk '{ print $1; exit }')
    [ -n "$address" ] || { echo "$0: $host has no IPv4 address here" >&2; exit 2; }
    hosts+=("$host=$address")
done

# A relay of one listening socket to one other, both "tcp:ADDRESS:PORT" or
# "unix:PATH": the only way out of the chroot's network namespace.
relay='
import os, socket, sys, threading
def parse(spec):
    kind, _, rest = spec.partition(":")
    if kind == "unix":
        return socket.AF_UNIX, rest
    address, _, port = rest.rpartition(":")
    return socket.AF_INET, (address, int(port))
def pump(source, target):
    try:
        while True:
            block = source.recv(65536)
            if not block:
                break
            target.sendall(block)
    except OSError:
        pass
    finally:
        try:
            target.shutdown(socket.SHUT_WR)
        except OSError:
            pass
def serve(client, family, address):
    try:
        upstream = socket.socket(family, socket.SOCK_STREAM)
        upstream.connect(address)
    except OSError:
        client.close()
        return
    back = threading.Thread(target=pump, args=(upstream, client), daemon=True)
    back.start()
    pump(client, upstream)
    back.join()
    client.close()
    upstream.close()
listen_family, listen_address = parse(sys.argv[1])
family, address = parse(sys.argv[2])
listener = socket.socket(listen_family, socket.SOCK_STREAM)
if listen_family == socket.AF_UNIX:
    if os.path.exists(listen_address):
        os.unlink(listen_address)
else:
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(listen_address)
listener.listen(64)
print("ready", flush=True)
while True:
    client, _ = listener.accept()
    threading.Thread(target=serve, args=(client, family, address), daemon=True).start()
'

# Starts a relay in the background and waits until it listens; sets RELAY_PID.
start_relay() {
    local ready
    ready=$(mktemp "$work/relay.XXXXXX")
    python3 -c "$relay" "$@" >"$ready" 2>/dev/null &
    RELAY_PID=$!
    until [ -s "$ready" ]; do
        kill -0 "$RELAY_PID" 2>/dev/null || { echo "$0: the relay $1 -> $2 did not start" >&2; exit 2; }
        sleep 0.1
    done
}

work=$(mktemp -d "${KESTRAFIN_FRESH_WORK:-/var/tmp}/kestrafin-fresh.XXXXXX")
root=$work/root
relays=()
cleanup() {
    local status=$?
    trap - EXIT INT TERM
    # unshare's --kill-child does not reach the namespace's first process
    # when unshare itself is stopped: that process is killed here, and the
    # kernel then ends every other process of the namespace.
    if [ -n "${NAMESPACE_PID:-}" ]; then
        local child
        for child in $(cat "/proc/$NAMESPACE_PID/task/$NAMESPACE_PID/children" 2>/dev/null); do
            kill -KILL "$child" 2>/dev/null || true
        done
        kill "$NAMESPACE_PID" 2>/dev/null || true
        wait "$NAMESPACE_PID" 2>/dev/null || true
    fi
    for pid in "${relays[@]}"; do kill "$pid" 2>/dev/null || true; done
    # The chroot's mounts live in the namespace, which ended with its last
    # process; a mount still here would make removing the root remove the host.
    if grep -q " $root[/ ]" /proc/self/mountinfo; then
        echo "$0: mounts remain under $root; it is left in place" >&2
    else
        rm -rf --one-file-system "$work"
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

elapsed() {
    local seconds=$(($(date +%s) - $1))
    printf '%d min %02d s' $((seconds / 60)) $((seconds % 60))
}

# Two caches: the packages debootstrap fetches, and the base system it made
# from them, which later runs only unpack.
download=$cache/$codename-$arch-minbase.tgz
base=$cache/$codename-$arch-minbase-root.tar
packages=git,ca-certificates
started=$(date +%s)
if [ -f "$base" ]; then
    echo "== unpacking the base system of $base into $root"
    mkdir "$root"
    tar -C "$root" --numeric-owner -xpf "$base"
else
    if [ ! -f "$download" ]; then
        echo "== downloading the base system from $mirror into $download"
        debootstrap --variant=minbase --include=$packages --arch="$arch" \
            --make-tarball="$download.part" "$codename" "$work/download" "$mirror" >"$out/debootstrap.log" 2>&1 ||
            { tail -n 20 "$out/debootstrap.log"; exit 1; }
        mv "$download.part" "$download"
        rm -rf "$work/download"
    fi
    echo "== making the base system in $root"
    # In a mount namespace of its own: the /proc and /sys it mounts in the
    # root go with it, however it ends.
    unshare --mount --propagation private debootstrap --variant=minbase --include=$packages --arch="$arch" --unpack-tarball="$download" \
        "$codename" "$root" "$mirror" >"$out/debootstrap.log" 2>&1 ||
        { tail -n 20 "$out/debootstrap.log"; exit 1; }
    tar -C "$root" --numeric-owner -cpf "$base.part" . && mv "$base.part" "$base"
fi
awk '{ print "deb " $0 }' <<<"$sources" >"$root/etc/apt/sources.list"
: >"$root/etc/resolv.conf"
for entry in "${hosts[@]}"; do echo "${entry#*=} ${entry%%=*}" >>"$root/etc/hosts"; done
git clone -q "$checkout" "$root/root/kestrafin"
echo "   chroot ready in $(elapsed "$started") ($(git -C "$checkout" log -1 --format='%h %s'))"

for entry in "${hosts[@]}"; do
    start_relay "unix:$work/${entry%%=*}.socket" "tcp:${entry#*=}:80"
    relays+=("$RELAY_PID")
done

# Everything below runs in namespaces of its own: mounts, network and
# processes end with it, whatever ends it.
inner='
set -uo pipefail
root=$1 work=$2 out=$3 run_command=$4 test_command=$5
shift 5
relay=$(cat "$work/relay.py")
elapsed() {
    local seconds=$(($(date +%s) - $1))
    printf "%d min %02d s" $((seconds / 60)) $((seconds % 60))
}
in_chroot() {
    chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        ${DISPLAY:+DISPLAY=$DISPLAY} "$@"
}

mount --bind "$root" "$root"
mount -t proc proc "$root/proc"
mount --rbind /sys "$root/sys"
mount --rbind /dev "$root/dev"
mount -t tmpfs -o nosuid,nodev,mode=1777 tmpfs "$root/tmp"

ip link set lo up
for entry in "$@"; do
    ip address add "${entry#*=}/32" dev lo
    python3 -c "$relay" "tcp:${entry#*=}:80" "unix:$work/${entry%%=*}.socket" >"$work/${entry%%=*}.ready" 2>/dev/null &
    until [ -s "$work/${entry%%=*}.ready" ]; do
        kill -0 $! 2>/dev/null || { echo "the relay to ${entry%%=*} did not start" >&2; exit 2; }
        sleep 0.1
    done
done

status=0
if [ "$run_command" = yes ]; then
    echo "== ./dev run (log: $out/run.log)"
    started=$(date +%s)
    outcome=
    if ! in_chroot bash -c "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends xvfb imagemagick x11-utils" >"$out/display-tools.log" 2>&1; then
        outcome="failed: the display and screenshot tools could not be installed (see $out/display-tools.log)"
    else
        in_chroot bash -c "exec Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1280x1024x24 3>/tmp/display 2>/dev/null" &
        until [ -s "$root/tmp/display" ]; do
            kill -0 $! 2>/dev/null || { echo "   Xvfb did not start" >&2; exit 1; }
            sleep 0.1
        done
        export DISPLAY=":$(head -n 1 "$root/tmp/display")"
        in_chroot bash -c "cd /root/kestrafin && exec ./dev run" >"$out/run.log" 2>&1 &
        window=$!
        # The window is shown once it is mapped and has painted something.
        while kill -0 "$window" 2>/dev/null; do
            if in_chroot xwininfo -root -tree 2>/dev/null | grep -q "\"Kestrafin" &&
                in_chroot import -window root /tmp/screen.png 2>/dev/null &&
                [ "$(in_chroot convert /tmp/screen.png -format "%[fx:standard_deviation>0]" info:)" = 1 ]; then
                cp "$root/tmp/screen.png" "$out/run.png"
                outcome="passed: the window showed after $(elapsed "$started") (screenshot: $out/run.png)"
                kill "$window"
                break
            fi
            sleep 1
        done
        wait "$window"
        code=$?
        [ -n "$outcome" ] || outcome="failed with status $code after $(elapsed "$started"), no window shown"
    fi
    echo "   ./dev run $outcome"
    case $outcome in passed*) ;; *) status=1; tail -n 30 "$out/run.log" 2>/dev/null ;; esac
fi

if [ "$test_command" = yes ]; then
    unset DISPLAY
    echo "== ./dev test (log: $out/test.log)"
    started=$(date +%s)
    in_chroot nice -n 10 bash -c "cd /root/kestrafin && exec ./dev test" >"$out/test.log" 2>&1
    code=$?
    if [ "$code" -eq 0 ]; then
        echo "   ./dev test passed in $(elapsed "$started")"
    else
        status=1
        echo "   ./dev test failed with status $code after $(elapsed "$started")"
        grep -E "tests passed|tests failed|^\s+[0-9]+ - .*\((Failed|Timeout|SEGFAULT|Subprocess|Not Run|Exception)" "$out/test.log" || tail -n 30 "$out/test.log"
    fi
    grep -E "^== |tests passed" "$out/test.log" | sed "s/^/   /"
fi
exit "$status"
'
printf '%s' "$relay" >"$work/relay.py"
unshare --mount --net --pid --fork --kill-child --propagation private \
    bash -c "$inner" fresh_machine "$root" "$work" "$out" "$run_command" "$test_command" "${hosts[@]}" &
NAMESPACE_PID=$!
wait "$NAMESPACE_PID"
status=$?
NAMESPACE_PID=
echo "== all done in $(elapsed "$started")"
exit "$status"
