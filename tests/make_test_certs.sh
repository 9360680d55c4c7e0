#!/usr/bin/env bash
# Makes the certificates of the TLS mail tests with Debian's openssl tool, into DIR:
#   ca.pem           a test CA ("Tempwarden Test CA")
#   localhost.pem    the relay's certificate for the name "localhost", signed by that CA
#   localhost.key    its key
#   other-ca.pem     a second CA that signed nothing the relay shows (the wrong CA)
# usage: make_test_certs.sh DIR
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
make_ca() {  # name subject
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=$2" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
    -keyout "$1.key" -out "$1.pem" 2>/dev/null
}
make_ca ca "Tempwarden Test CA"
make_ca other-ca "Another Test CA"
openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout localhost.key \
  -out localhost.csr 2>/dev/null
printf '%s\n' "subjectAltName=DNS:localhost" "basicConstraints=CA:FALSE" \
  "keyUsage=digitalSignature,keyEncipherment" "extendedKeyUsage=serverAuth" >localhost.ext
openssl x509 -req -in localhost.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 \
  -extfile localhost.ext -out localhost.pem 2>/dev/null
rm -f localhost.csr localhost.ext ca.srl
