#!/bin/sh
# Makes the TLS test certificates in folder $1: a CA (ca.pem), a server
# certificate for 127.0.0.1 and localhost (server), one for another name
# (other), an expired one (expired), each as NAME.pem and NAME.key, and the
# SHA-256 fingerprint of "other" in other.fp.
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
cert() {  # name, common name, subjectAltName, then optional start and end dates
  o req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$2" \
    -addext "subjectAltName=$3"
  if [ $# -gt 3 ]; then dates="-startdate $4 -enddate $5"; else dates="-days 30"; fi
  # shellcheck disable=SC2086
  o ca -batch -config ca.cnf -notext $dates -in "$1.csr" -out "$1.pem"
}
cert server localhost "IP:127.0.0.1,DNS:localhost"
cert other mail.example.net "DNS:mail.example.net"
cert expired localhost "IP:127.0.0.1,DNS:localhost" 20200101000000Z 20200201000000Z
openssl x509 -in other.pem -noout -fingerprint -sha256 | sed 's/.*=//' > other.fp
