# Boots a Debian root with the kiv package installed under systemd-nspawn, with systemd as
# its init, and runs commands inside it. Sourced by the container tests.
#
# The cached root stays untouched: the container runs on an overlay whose changes live in
# the test's own directory. Whatever happens (failure, interruption), the container's init
# is killed, nspawn reaped, the overlay unmounted and the directory deleted.

work=$(mktemp -d)
nspawn_pid="" init_pid=""
merged=$work/merged

# The container's init. nspawn first forks a helper that mounts the root and forks init into
# a new PID namespace, then exits; for a moment that helper is nspawn's only child, or one of
# two. Init is the child that is PID 1 in its own namespace.
container_init() {
  local pid
  for pid in $(cat /proc/"$nspawn_pid"/task/*/children 2>/dev/null); do
    [ "$(awk '/^NSpid:/ { print $NF }' /proc/"$pid"/status 2>/dev/null)" = 1 ] && { echo "$pid"; return; }
  done
}

container_cleanup() {
  trap '' INT TERM HUP  # a second interruption must not leave the overlay mounted
  if [ -n "$nspawn_pid" ]; then
    # Interrupted during the boot, init may not be known yet.
    [ -n "$init_pid" ] || init_pid=$(container_init)
    [ -n "$init_pid" ] && kill -KILL "$init_pid" 2>/dev/null
    # nspawn ends by itself once init is gone, and cleans up after the container.
    local deadline=$((SECONDS + 10))
    while kill -0 "$nspawn_pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
    kill -KILL "$nspawn_pid" 2>/dev/null
    wait "$nspawn_pid" 2>/dev/null
  fi
  # nspawn unmounts what it mounted inside; the overlay is ours.
  if mountpoint -q "$merged"; then umount "$merged" || umount -l "$merged"; fi
  rm -rf "$work"
}
trap container_cleanup EXIT
trap 'exit 130' INT TERM HUP

fail() {
  echo "FAIL: $*" >&2
  if [ -n "$init_pid" ]; then
    echo "--- systemctl status kiv-host"
    inside systemctl --no-pager status kiv-host 2>&1 | tail -n 20
    echo "--- journal"
    inside journalctl --no-pager -n 60 2>&1
    echo "--- kiv.log"
    inside tail -n 40 /var/lib/kiv/log/kiv.log 2>&1
  fi
  [ -f "$work/nspawn.log" ] && { echo "--- nspawn"; tail -n 20 "$work/nspawn.log"; }
  exit 1
}

# Polls a condition for up to 60 s; no fixed sleeps.
wait_for() {
  local deadline=$((SECONDS + 60))
  while [ $SECONDS -lt $deadline ]; do
    eval "$1" && return 0
    sleep 0.1
  done
  return 1
}

# inside COMMAND...: runs it in the container's namespaces.
inside() { nsenter -t "$init_pid" -a "$@"; }

# prepare_root ROOT DEB: the overlay on ROOT with the package installed (offline: its
# dependencies are in ROOT already). Its postinst enables the service for the boot.
prepare_root() {
  mkdir -p "$work/upper" "$work/overlay-work" "$merged"
  mount -t overlay overlay -o "lowerdir=$1,upperdir=$work/upper,workdir=$work/overlay-work" "$merged" ||
    fail "cannot mount an overlay on $1"
  cp "$2" "$merged/root/kiv.deb"
  chroot "$merged" dpkg -i /root/kiv.deb >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i failed"; }
}

# boot NAME: boots the root with its own network namespace and waits until its start-up
# has finished.
boot() {
  systemd-nspawn -D "$merged" -b -M "$1" --register=no --keep-unit --private-network \
    --console=passive </dev/null >"$work/nspawn.log" 2>&1 &
  nspawn_pid=$!
  wait_for 'init_pid=$(container_init); [ -n "$init_pid" ]' ||
    fail "the container's init did not start"
  # The bus and systemctl answer only once init runs; start-up may end "degraded" in a
  # container (units that want hardware), which is no concern here.
  wait_for 'inside systemctl is-system-running >/dev/null 2>&1 || [ "$(inside systemctl is-system-running 2>/dev/null)" = degraded ]' ||
    fail "the container did not finish starting"
}

# unit_properties NAME...: the service's properties, in the order named, on one line.
unit_properties() {
  local name values=()
  for name in "$@"; do values+=("$(inside systemctl show kiv-host -p "$name" --value 2>/dev/null)"); done
  echo "${values[*]}"
}

service_state() { unit_properties ActiveState SubState NRestarts; }

# journal_events FILTER...: the service's journal entries with the given fields, as
# lines of KIV_CODE, KIV_S1, KIV_S2, KIV_S3 and MESSAGE separated by tabs.
journal_events() {
  inside journalctl --no-pager -u kiv-host -o json "$@" |
    /usr/bin/python3 -c '
import json, sys
for line in sys.stdin:
    e = json.loads(line)
    print("\t".join(str(e.get(k, "")) for k in ("KIV_CODE", "KIV_S1", "KIV_S2", "KIV_S3", "MESSAGE")))'
}
