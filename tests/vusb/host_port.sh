#!/usr/bin/env bash
# Runs a command (a bench) on a host that has a /dev/ttyACM0 of its own, as a desktop with a USB
# serial device plugged in does, and fails when the command changed or removed it. Run it on a
# bench of its own, whose /dev only the test sees:
#   tempyra-vusb -- host_port.sh tempyra-vusb --logger ... -- COMMAND
set -u
mark="the host's own port"
# A real /dev/ttyACM0 that this bench carried over from the computer stays out of reach: inside
# this bench's mount namespace it gives way to a file of the bench's own.
if mountpoint -q /dev/ttyACM0; then
    umount /dev/ttyACM0
fi
rm -f /dev/ttyACM0
echo "$mark" >/dev/ttyACM0
"$@"
rc=$?
if [[ $(cat /dev/ttyACM0 2>/dev/null) != "$mark" ]]; then
    echo "host_port.sh: the host's /dev/ttyACM0 was changed or removed" >&2
    exit 1
fi
exit $rc
