#!/usr/bin/env python3
"""The same lab check as radio_check.sh, from Python: qmxctl's JSON read
with the standard library only.

    radio_check.py PORT FIRMWARE_IMAGE [TIMEOUT_MS]

FIRMWARE_IMAGE 'none' skips the firmware steps.
"""
import json
import os
import subprocess
import sys
import tempfile

QMXCTL = os.environ.get("QMXCTL", "qmxctl")


def qmxctl(port, timeout, *args, expect=0, parity="none"):
    """Runs qmxctl; returns its standard output, after checking the exit status."""
    done = subprocess.run([QMXCTL, "--port", port, "--parity", parity, "--timeout", str(timeout), *args],
                          capture_output=True, text=True)
    if done.returncode != expect:
        sys.exit(f"radio_check: qmxctl {' '.join(args)} exited {done.returncode}, not {expect}: {done.stderr}")
    return done.stdout


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    port, image = sys.argv[1], sys.argv[2]
    timeout = int(sys.argv[3]) if len(sys.argv) > 3 else 1000
    with tempfile.TemporaryDirectory() as work:
        before = os.path.join(work, "before.profile")
        status = json.loads(qmxctl(port, timeout, "--json", "status"))
        assert status["state"] == "protocol mode", status
        print(f"radio {status['mac_address']} on channel {status['channel']} ({status['frequency_mhz']} MHz)")
        qmxctl(port, timeout, "config", "save", before)
        changed = json.loads(qmxctl(port, timeout, "--json", "config", "set", "tx-power=0x10", "serial-parity=Even"))
        assert changed["written"] == ["tx-power", "serial-parity"], changed
        diff = json.loads(qmxctl(port, timeout, "--json", "config", "diff", before, expect=1, parity="even"))
        keys = {d["key"]: (d["radio"], d["file"]) for d in diff["differences"]}
        assert keys["serial-parity"] == ("Even", "None"), keys
        assert keys["tx-power"][0] == "0x10", keys
        loaded = json.loads(qmxctl(port, timeout, "--json", "config", "load", before, parity="even"))
        assert loaded["saved"], loaded
        qmxctl(port, timeout, "config", "diff", before)
        for action in ("program", "verify") if image != "none" else ():
            result = json.loads(qmxctl(port, timeout, "--json", "firmware", action, image))
            print(f"firmware {action}: {result['result']}, {result['blocks']} blocks, {result['retries']} retries, "
                  f"{result['seconds']:.1f} s")
        frames = [json.loads(line) for line in qmxctl(port, timeout, "--json", "monitor", "10").splitlines()]
        kinds = sorted({f["kind"] for f in frames})
        print(f"radio_check: {len(frames)} frames heard in ten seconds ({', '.join(kinds)}); all steps passed")


if __name__ == "__main__":
    main()
