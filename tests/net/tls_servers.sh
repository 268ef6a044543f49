#!/bin/sh
# For the Windows TLS tests, which run under Wine: starts openssl s_server
# natively on 127.0.0.1, one per certificate that make_certs.sh makes in
# folder $2, writes "NAME PORT" lines to $2/ports and each certificate's
# SHA-256 fingerprint to NAME.fp; "stop" ends them.
# Usage: tls_servers.sh start|stop FOLDER
set -eu
dir=$2
. "$(dirname "$0")/../support/pids.sh"
stop_pids "$dir"
[ "$1" = stop ] && exit 0
rm -rf "$dir"
mkdir -p "$dir"
sh "$(dirname "$0")/make_certs.sh" "$dir"
: > "$dir/ports"
for name in server other expired cnonly partial wildcard; do
  openssl s_server -accept 127.0.0.1:0 -cert "$dir/$name.pem" -key "$dir/$name.key" -www \
    < /dev/null > "$dir/$name.log" 2>&1 &
  echo $! >> "$dir/pids"
  openssl x509 -in "$dir/$name.pem" -noout -fingerprint -sha256 | sed 's/.*=//' > "$dir/$name.fp"
  tries=0
  until grep -qs '^ACCEPT' "$dir/$name.log"; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ]; then
      echo "openssl s_server for $name did not start:" >&2
      cat "$dir/$name.log" >&2
      "$0" stop "$dir"
      exit 1
    fi
    sleep 0.1
  done
  echo "$name $(sed -n 's/^ACCEPT .*:\([0-9]*\)$/\1/p' "$dir/$name.log")" >> "$dir/ports"
done
