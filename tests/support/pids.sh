# Sourced by the fixtures that start programs for a test run: each program's
# pid goes on a line of FOLDER/pids, and stop_pids FOLDER ends them all.
stop_pids() {
  if [ -f "$1/pids" ]; then
    while read -r pid; do kill "$pid" 2>/dev/null || true; done < "$1/pids"
    rm -f "$1/pids"
  fi
}
