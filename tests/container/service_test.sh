#!/usr/bin/env bash
# kiv-host.service as the package installs it, under a real systemd with its whole sandbox
# and system-call filter: it starts (readiness through sd_notify), survives a restart with
# the TCP listener configured, takes a message
# from `kiv send`, reports an address added in the container, writes each event to the
# journal exactly once with its KIV_* fields, and stops in order.
# Usage: service_test.sh ROOT DEB
set -uo pipefail
source "$(dirname "$0")/container.sh"

prepare_root "$1" "$2"
boot "kiv-service-$$"

[ "$(service_state)" = "active running 0" ] || fail "after boot the service is $(service_state)"
# Type=notify: systemd calls the service active only once it has said READY=1.
[ "$(inside systemctl show kiv-host -p Type --value)" = notify ] || fail "the unit is not Type=notify"
inside kiv config set dlox/common/kiv/bus tcplisten tcp://127.0.0.1:0 >/dev/null ||
  fail "cannot configure the TCP listener"
inside systemctl restart kiv-host || fail "systemctl restart failed"
[ "$(service_state)" = "active running 0" ] || fail "after the restart the service is $(service_state)"
inside grep -q 'tcp://127.0.0.1:[1-9]' /var/lib/kiv/log/kiv.log || fail "the TCP listener did not start"

inside kiv send docked --id 4711 --type dockingDevicePalm || fail "kiv send: the message was not taken"
wait_for '[ -n "$(journal_events KIV_CODE=6)" ]' || fail "no docked event in the journal"
expected=$(printf '6\t4711\tdockingDevicePalm\t\t%s' '6 "4711" "dockingDevicePalm" ""')
[ "$(journal_events KIV_CODE=6)" = "$expected" ] || fail "the docked entry's fields: $(journal_events KIV_CODE=6)"

inside ip link set lo up && inside ip addr add 192.0.2.7/24 dev lo || fail "cannot add an address"
wait_for 'inside grep -qF "IP address( 192.0.2.7 )" /var/lib/kiv/log/kiv.log' ||
  fail "the plug-in did not see the added address"
wait_for '[ -n "$(journal_events KIV_CODE=5)" ]' || fail "the added address was not reported"

inside systemctl stop kiv-host || fail "systemctl stop failed"
stopped=$(unit_properties ActiveState Result ExecMainStatus)
[ "$stopped" = "inactive success 0" ] || fail "the stop was not clean: $stopped"
# journald reads its sockets on its own time; --sync returns once all sent before is in.
inside journalctl --sync || fail "journalctl --sync failed"
[ -n "$(journal_events KIV_CODE=1)" ] || fail "the plug-in did not report its shutdown"

# Every event once: standard output goes to the journal too, so the events must be
# written only as the structured entries.
from_stdout=$(inside journalctl --no-pager -u kiv-host _TRANSPORT=stdout -o cat | grep -E '^[0-9]+ "')
[ -z "$from_stdout" ] || fail "events in the journal from standard output as well: $from_stdout"
echo "container service test passed"
