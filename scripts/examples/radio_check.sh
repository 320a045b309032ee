#!/usr/bin/env bash
# A lab script on qmxctl: reads a radio's status, changes two settings,
# keeps a profile and checks it, programs and verifies a firmware image and
# watches the network for ten seconds; every step checks its exit status.
#   radio_check.sh PORT FIRMWARE_IMAGE [TIMEOUT_MS]
# PORT is a serial device (or 'sim'); the image begins with its 128-byte
# header, as distributed ('none' skips the firmware steps).
set -u
port=${1:?usage: radio_check.sh PORT FIRMWARE_IMAGE [TIMEOUT_MS]}
image=${2:?usage: radio_check.sh PORT FIRMWARE_IMAGE [TIMEOUT_MS]}
timeout=${3:-1000}
qmxctl=${QMXCTL:-qmxctl}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {  # run EXPECTED_STATUS ARGS...: qmxctl on the port, its status checked
    local want=$1
    shift
    "$qmxctl" --port "$port" --timeout "$timeout" "$@"
    local got=$?
    if [[ $got -ne $want ]]; then
        echo "radio_check: 'qmxctl $*' exited $got, not $want" >&2
        exit 1
    fi
}

run 0 --json status >"$work/status.json" || exit 1
grep -q '"state":"protocol mode"' "$work/status.json" || { echo "radio_check: no radio in protocol mode" >&2; exit 1; }
run 0 config save "$work/before.profile"
run 0 --json config set tx-power=0x10 serial-parity=Even >"$work/set.json"
grep -q '"written":\["tx-power","serial-parity"\]' "$work/set.json" || { cat "$work/set.json"; exit 1; }
# The radio's line changed with it: the later commands talk at even parity.
par=(--parity even)
"$qmxctl" --port "$port" "${par[@]}" --timeout "$timeout" config diff "$work/before.profile" >"$work/diff.txt"
[[ $? -eq 1 ]] || { echo "radio_check: the radio should differ from the earlier profile" >&2; exit 1; }
grep -q '^tx-power: 0x10 -> ' "$work/diff.txt" && grep -q '^serial-parity: Even -> None$' "$work/diff.txt" ||
    { cat "$work/diff.txt"; exit 1; }
"$qmxctl" --port "$port" "${par[@]}" --timeout "$timeout" config load "$work/before.profile" >/dev/null || exit 1
run 0 config diff "$work/before.profile"
if [[ $image != none ]]; then
    run 0 firmware program "$image"
    run 0 firmware verify "$image"
fi
run 0 --json monitor 10 >"$work/monitor.json"
echo "radio_check: $(wc -l <"$work/monitor.json") frames heard in ten seconds; all steps passed"
