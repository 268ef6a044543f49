#!/usr/bin/env bash
# The road of one request on loopback, against a discarding SMTP sink of our
# own: (a) a clipboard copy to the request accepted, with the tray program
# running under Xvfb and trayer; (b) `tolvane --request URL` against msmtp
# sending the same mail; (c) as (a) in a headless sway with wl-copy. Usage: bench/request.sh <build folder>
set -euo pipefail
build=$(cd "${1:?usage: bench/request.sh <build folder>}" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
# The script stops everything it started on its own deadline; this is the
# backstop, and its TERM still lets the script clean up.
exec timeout -k 15 420 /usr/bin/python3 "$here/bench/request.py" "$build" "$here"
