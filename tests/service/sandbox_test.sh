#!/usr/bin/env bash
# kiv host in the file-system view the kiv-host.service unit gives it, reproduced with
# bubblewrap (systemd is not the init system here): read-only system, its own state
# directory writable at /var/lib/kiv, private /tmp, no home directories, its own network
# namespace, no capability but binding low ports, no new privileges, umask 0077. Inside,
# the host takes a logon message, writes the units with their home directories, and on an
# address change runs the "ipchangescript", which sees its event and addresses and finds
# the system read-only; each event also reaches a stand-in for the journal's socket with
# its KIV_* fields, as under systemd, where standard output is the journal's stream too
# (JOURNAL_STREAM names it): each event is in the journal once, and not on standard
# output; so does each line the script writes, with KIV_SCRIPT_PID. Needs root (exit 77:
# skipped).
# Usage: sandbox_test.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
[ "$(id -u)" -eq 0 ] || { echo "skipped: needs root for network namespaces"; exit 77; }

kiv=$build/bin/kiv
work=$(mktemp -d)
# The script must lie where only root can write, wherever the build tree is: not /tmp.
scripts=$(mktemp -d /var/lib/kiv-sandbox-script-XXXXXX)
chmod 0755 "$scripts"
host_pid="" receiver_pid=""
cleanup() {
  [ -n "$host_pid" ] && kill -KILL "$host_pid" 2>/dev/null
  [ -n "$receiver_pid" ] && kill "$receiver_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work" "$scripts"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  for f in host.err host.out state/log/kiv.log journal/entries; do
    [ -f "$work/$f" ] && { echo "--- $f"; tail -n 40 "$work/$f"; }
  done
  exit 1
}
# Polls a condition for up to 60 s; no fixed sleeps.
wait_for() {
  local i
  for ((i = 0; i < 600; i++)); do
    eval "$1" && return 0
    sleep 0.1
  done
  return 1
}

state=$work/state
mkdir -m 0711 "$state" "$work/journal"
cat >"$scripts/on-change" <<SCRIPT
#!/bin/sh
out=/var/lib/kiv/script.out
echo "event=\$KIV_EVENT addresses=\$KIV_ADDRESSES" >> \$out
touch /etc/kiv-sandbox-probe 2>/dev/null && echo "etc=writable" >> \$out || echo "etc=read-only" >> \$out
echo private > /tmp/probe && echo "tmp=writable" >> \$out
echo "home=\$(ls -A /home | wc -l)" >> \$out
echo "said on stdout"
echo "said on stderr" >&2
exit 3
SCRIPT
chmod 0755 "$scripts/on-change"
KIV_HOME=$state "$kiv" config set dlox/common/kiv/general ipchangescript "$scripts/on-change" \
  || fail "cannot configure the script"

python3 "$here/journal_receiver.py" "$work/journal/socket" "$work/journal/entries" &
receiver_pid=$!
wait_for '[ -e "$work/journal/entries.ready" ]' || fail "the journal stand-in did not start"

# Standard output is the journal's stream, as systemd connects it.
: >"$work/host.out"
journal_stream=$(stat -c %d:%i "$work/host.out")

# The host behaves as Windows NT 4.0, where the logon message on the bus is what tells it
# of a session (newer generations ask the session manager, which does not run here).
# /var/lib and /run/systemd are replaced by empty file systems only to give the state
# directory and the journal socket a place to be mounted on; the real root stays untouched.
(
  umask 0077
  exec bwrap --ro-bind / / --dev /dev --proc /proc \
    --tmpfs /tmp --tmpfs /home --tmpfs /root --tmpfs /run/user \
    --tmpfs /var/lib --bind "$state" /var/lib/kiv \
    --tmpfs /run/systemd --bind "$work/journal" /run/systemd/journal \
    --ro-bind "$build" "$build" --ro-bind "$scripts" "$scripts" \
    --unshare-net --unshare-ipc --unshare-uts --die-with-parent \
    --cap-drop ALL --cap-add CAP_NET_BIND_SERVICE \
    --setenv KIV_HOME /var/lib/kiv --setenv KIV_WINDOWS_VERSION 4.0 --setenv INVOCATION_ID 0123456789abcdef0123456789abcdef \
    --setenv JOURNAL_STREAM "$journal_stream" \
    --info-fd 3 \
    "$kiv" host 3>"$work/info.json" >"$work/host.out" 2>"$work/host.err"
) &
bwrap_pid=$!
wait_for 'grep -q running "$work/host.err" 2>/dev/null' || fail "the host did not start in the sandbox"
host_pid=$(sed -n 's/.*"child-pid": *\([0-9]*\).*/\1/p' "$work/info.json")
[ -n "$host_pid" ] || fail "no pid from bwrap"
netns=/proc/$host_pid/ns/net
[ "$(readlink "$netns")" != "$(readlink /proc/self/ns/net)" ] || fail "the host shares this network namespace"

# A message over the bus, from outside the sandbox: units and their home directories.
KIV_HOME=$state "$kiv" send logon --user alice --domain CORP --session 3 || fail "the logon was not taken"
wait_for 'grep -q "^KIV_CODE=2$" "$work/journal/entries"' || fail "no logon event"
units=$(KIV_HOME=$state "$kiv" units list --json) || fail "kiv units list failed: $units"
grep -q 'CORP|alice' <<<"$units" || fail "no unit for CORP|alice: $units"
homes=$(find "$state/Agent/units" -mindepth 1 -maxdepth 1 -type d | wc -l)
[ "$homes" -ge 2 ] || fail "expected unit home directories in $state/Agent/units, found $homes"
[ "$(stat -c %a "$state")" = 711 ] || fail "the state directory is not 0711"

# An address change in the sandbox's own network namespace runs the script.
nsenter --net="$netns" ip link set lo up || fail "cannot reach the sandbox's network namespace"
nsenter --net="$netns" ip addr add 10.203.0.1/32 dev lo || fail "cannot add an address"
wait_for 'grep -q "^KIV_CODE=5$" "$work/journal/entries"' || fail "no address-change event"
wait_for '[ -s "$state/script.out" ] && grep -q "^home=" "$state/script.out"' || fail "the script did not run"
script_out=$(cat "$state/script.out")
grep -q '^event=address-change addresses=.*10\.203\.0\.1' <<<"$script_out" || fail "script environment: $script_out"
grep -q '^etc=read-only$' <<<"$script_out" || fail "the system was writable: $script_out"
grep -q '^tmp=writable$' <<<"$script_out" || fail "private /tmp: $script_out"
grep -q '^home=0$' <<<"$script_out" || fail "home directories were visible: $script_out"
[ ! -e /tmp/probe ] || [ "$(cat /tmp/probe 2>/dev/null)" != private ] || fail "the script's /tmp is this system's /tmp"

# The journal got the events with their fields, once each; standard output none.
grep -q '^KIV_S2=.|CORP|alice$' "$work/journal/entries" || fail "the logon entry lacks KIV_S2"
grep -q '^MESSAGE=5 "" "" ""$' "$work/journal/entries" || fail "the journal message differs from the output line"
[ "$(grep -c '^MESSAGE=2 ' "$work/journal/entries")" -eq 1 ] || fail "the logon is not in the journal once"
[ ! -s "$work/host.out" ] || fail "events went to the journal's stream as well: $(head -n 3 "$work/host.out")"
# The script's lines and its end, each with the script's pid.
wait_for 'grep -q "^MESSAGE=ipchangescript (pid [0-9]*) end: ended: exit 3 after" "$work/journal/entries"' \
  || fail "no journal entry for the script's end"
for said in "stdout: said on stdout" "stderr: said on stderr"; do
  entry=$(awk -v RS= -v said="$said" 'index($0, said)' "$work/journal/entries")
  grep -q '^KIV_SCRIPT_PID=[0-9][0-9]*$' <<<"$entry" || fail "no KIV_SCRIPT_PID beside \"$said\": $entry"
done

kill -TERM "$host_pid"
wait "$bwrap_pid"
status=$?
host_pid=""
[ "$status" -eq 0 ] || fail "the host exited $status after SIGTERM"
echo "sandbox test passed"
