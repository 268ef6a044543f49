#!/bin/sh
# Makes the TLS test certificates in folder $1: a CA (ca.pem), a server
# certificate for 127.0.0.1, ::1 and localhost (server), one for another name
# (other), an expired one (expired), one that names localhost only in its
# subject (cnonly), one for "m*.example.net" (partial) and one for
# "*.example.net" (wildcard), each as NAME.pem and NAME.key, and the SHA-256
# fingerprint of "other" in other.fp.
set -eu
cd "$1"
o() { openssl "$@" 2>/dev/null; }
o req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 -subj "/CN=Test CA"
mkdir -p db
: > db/index
echo 01 > db/serial
cat > ca.cnf <<CNF
[ca]
default_ca = test
[test]
database = db/index
serial = db/serial
new_certs_dir = db
certificate = ca.pem
private_key = ca.key
default_md = sha256
policy = any
copy_extensions = copy
unique_subject = no
[any]
commonName = supplied
CNF
cert() {  # name, common name, subjectAltName (may be empty), then optional start and end dates
  if [ -n "$3" ]; then san="subjectAltName=$3"; else san="basicConstraints=CA:FALSE"; fi
  o req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$2" -addext "$san"
  if [ $# -gt 3 ]; then dates="-startdate $4 -enddate $5"; else dates="-days 30"; fi
  # shellcheck disable=SC2086
  o ca -batch -config ca.cnf -notext $dates -in "$1.csr" -out "$1.pem"
}
cert server localhost "IP:127.0.0.1,IP:::1,DNS:localhost"
cert other mail.example.net "DNS:mail.example.net"
cert expired localhost "IP:127.0.0.1,DNS:localhost" 20200101000000Z 20200201000000Z
cert cnonly localhost ""
cert partial "Partial wildcard" "DNS:m*.example.net"
cert wildcard "Wildcard" "DNS:*.example.net"
openssl x509 -in other.pem -noout -fingerprint -sha256 | sed 's/.*=//' > other.fp
