#!/usr/bin/env bash
# A tireless user for qmxdemo and qmxctl: random actions against a disturbed
# simulated radio, judged from outside and from the wire (see monkey.py).
#   scripts/monkey.sh [--seed N] [--seconds S] [--target window|qmxctl]
#                     [--program PATH] [--qmxctl PATH] [--radio PATH]
# Needs Xvfb, openbox and xdotool for the window; the debug build by default.
exec python3 "$(dirname "$0")/monkey.py" "$@"
