#!/usr/bin/env bash
# Runs a command with a private D-Bus bus as its system bus (DBUS_SYSTEM_BUS_ADDRESS), so that
# BLE tests never reach the machine's own. The bus goes away with the command.
#     tests/ble/private_bus.sh COMMAND [ARGUMENT...]
set -euo pipefail

directory=$(mktemp -d "${TMPDIR:-/tmp}/diveconnector-bus.XXXXXX")
socket="$directory/bus"
cat >"$directory/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <listen>unix:path=$socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
# Its complaint about raising the file limit is no failure; a bus that fails shows below.
dbus-daemon --config-file="$directory/bus.conf" --nofork --nopidfile 2>/dev/null &
daemon=$!
cleanup() {
    kill "$daemon" 2>/dev/null || true
    wait "$daemon" 2>/dev/null || true
    rm -rf "$directory"
}
trap cleanup EXIT
for _ in $(seq 100); do
    [[ -S $socket ]] && break
    sleep 0.05
done
[[ -S $socket ]] || { echo "private_bus.sh: the bus did not start" >&2; exit 1; }
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$socket"
status=0
"$@" || status=$?
exit "$status"
