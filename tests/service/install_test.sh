#!/usr/bin/env bash
# `cmake --install` into a temporary root, then what an operator meets there: the service
# unit rates 2.5 or lower with `systemd-analyze security --offline=true`, the manual page
# renders with man and without any groff warning, and the bash completion completes.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
cmake --install "$build" --prefix "$root/usr" >/dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }

unit=$root/usr/lib/systemd/system/kiv-host.service
[ -f "$unit" ] || fail "no unit at $unit"
report=$(systemd-analyze security --offline=true "$unit" 2>&1) || true
rating=$(sed -n 's/.*Overall exposure level for kiv-host.service: \([0-9.]*\).*/\1/p' <<<"$report")
[ -n "$rating" ] || fail "no rating in: $report"
echo "exposure rating of the installed unit: $rating"
awk -v r="$rating" 'BEGIN { exit !(r <= 2.5) }' || fail "rating $rating is above 2.5: $report"

page=$root/usr/share/man/man1/kiv.1
[ -f "$page" ] || fail "no manual page at $page"
warnings=$(groff -ww -z -man "$page" 2>&1)
[ -z "$warnings" ] || fail "groff warns: $warnings"
rendered=$(MANWIDTH=80 man -l "$page" 2>&1)
for text in "kiv registry query KEY" "ipchangescripttimeout" "KIV_ADDRESSES" "EXIT STATUS" "KIV_HOME"; do
  grep -qF -- "$text" <<<"$rendered" || fail "the rendered page lacks \"$text\""
done

completion=$root/usr/share/bash-completion/completions/kiv
[ -f "$completion" ] || fail "no completion at $completion"
completions=$(bash -c '
  source /usr/share/bash-completion/bash_completion
  source "$1"
  compopt() { :; }   # only meaningful inside a real completion
  complete_line() {
    COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"; COMP_POINT=${#COMP_LINE}; COMPREPLY=()
    _kiv; echo "${COMPREPLY[*]}"
  }
  complete_line kiv ""
  complete_line kiv units add unit1 --set pre
  complete_line kiv registry query KEY --
  complete_line kiv send logon --
' bash "$completion")
expected='host send units config registry script --version --help
previousmanageraddress= previousserveraddress= previousdomainuuid= previousuri=
--json --help
--user --domain --session --cu --uu --timeout --help'
[ "$completions" = "$expected" ] || fail "completions differ: $completions"
echo "install test passed"
