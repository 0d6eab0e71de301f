#!/usr/bin/env bash
# A real logon through systemd-logind, as the packaged service sees it: alice logs on at a
# terminal (logind names the session "c1", having no audit session id in a container), and
# the host reports her logon with her account and unit names (codes 2 and 8), and after
# logind has ended the session her logoff (codes 3 and 9), all with the session's number.
# Usage: logon_test.sh ROOT DEB
set -uo pipefail
source "$(dirname "$0")/container.sh"

prepare_root "$1" "$2"
boot "kiv-logon-$$"
[ "$(service_state)" = "active running 0" ] || fail "after boot the service is $(service_state)"

# The session lasts until logind is told to end it below.
inside script -qc "runuser -l alice -c 'sleep 600'" /dev/null </dev/null >/dev/null 2>&1 &
logon_pid=$!
wait_for '[ -n "$(journal_events KIV_CODE=8)" ]' || fail "no session logon reported"
session=$(journal_events KIV_CODE=8 | cut -f2)
computer=$(inside uname -n | cut -d. -f1)
user_unit=".|alice"
expected=$(printf '2\t%s\\alice\t.|%s\t%s' "$computer" "$user_unit" "$user_unit")
[ "$(journal_events KIV_CODE=2 | cut -f1-4)" = "$expected" ] ||
  fail "logon of session $session: expected \"$expected\", got \"$(journal_events KIV_CODE=2)\""
inside kiv units get "$user_unit" >/dev/null || fail "no unit $user_unit"

inside loginctl terminate-user alice || fail "loginctl terminate-user failed"
wait_for '! kill -0 "$logon_pid" 2>/dev/null' || fail "the logon did not end"
wait "$logon_pid"
wait_for '[ -n "$(journal_events KIV_CODE=9)" ]' || fail "no session logoff reported"
[ "$(journal_events KIV_CODE=9 | cut -f2)" = "$session" ] || fail "the logoff names another session"
expected=$(printf '3\t%s\\alice\t.|%s\t%s' "$computer" "$user_unit" "$user_unit")
[ "$(journal_events KIV_CODE=3 | cut -f1-4)" = "$expected" ] ||
  fail "logoff of session $session: expected \"$expected\", got \"$(journal_events KIV_CODE=3)\""
echo "container logon test passed (session $session)"
