#!/bin/sh
# For the Windows window tests under Wine: an X server (Xvfb) on display
# :$3 with a window manager (openbox, where installed; without one keys and
# clicks get lost); "stop" ends both.
# Usage: xserver.sh start|stop FOLDER DISPLAY
set -eu
dir=$2
. "$(dirname "$0")/../support/pids.sh"
stop_pids "$dir"
[ "$1" = stop ] && exit 0
mkdir -p "$dir"
Xvfb ":$3" -screen 0 1280x1024x24 -nolisten tcp > "$dir/xvfb.log" 2>&1 &
echo $! >> "$dir/pids"
tries=0
until xdpyinfo -display ":$3" > /dev/null 2>&1; do
  tries=$((tries + 1))
  if [ $tries -gt 100 ]; then
    echo "Xvfb on :$3 did not start:" >&2
    cat "$dir/xvfb.log" >&2
    exit 1
  fi
  sleep 0.1
done
if command -v openbox > /dev/null; then
  DISPLAY=":$3" openbox > "$dir/openbox.log" 2>&1 &
  echo $! >> "$dir/pids"
fi
