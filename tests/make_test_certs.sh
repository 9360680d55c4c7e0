#!/usr/bin/env bash
# Makes the certificates of the TLS mail tests with Debian's openssl tool, into DIR:
#   ca.pem           a test CA ("Tempwarden Test CA")
#   localhost.pem    the relay's certificate for the name "localhost", signed by that CA
#   localhost.key    its key
#   other-ca.pem     a second CA that signed nothing the relay shows (the wrong CA)
#   forged.pem       a chain for "localhost" that ends in a forged root: the test CA's name
#                    and serial number, another key (forged.key the leaf's key)
#   address.pem      a certificate for the address 127.0.0.1 (an IP address entry), by the
#                    test CA (address.key its key)
#   impostor.pem     a self-signed certificate for "localhost" (impostor.key its key)
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
make_leaf() {  # name subjectAltName ca
  openssl req -newkey rsa:2048 -nodes -subj "/CN=$1" -keyout "$1.key" -out "$1.csr" 2>/dev/null
  printf '%s\n' "subjectAltName=$2" "basicConstraints=CA:FALSE" \
    "keyUsage=digitalSignature,keyEncipherment" "extendedKeyUsage=serverAuth" >"$1.ext"
  openssl x509 -req -in "$1.csr" -CA "$3.pem" -CAkey "$3.key" -CAcreateserial -days 30 \
    -extfile "$1.ext" -out "$1.pem" 2>/dev/null
  rm -f "$1.csr" "$1.ext" "$3.srl"
}
serial=$(openssl x509 -in ca.pem -noout -serial | sed 's/^serial=//')
openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Tempwarden Test CA" \
  -set_serial "0x$serial" -addext basicConstraints=critical,CA:TRUE \
  -addext keyUsage=critical,keyCertSign,cRLSign -keyout forged-ca.key -out forged-ca.pem 2>/dev/null
make_leaf forged DNS:localhost forged-ca
cat forged-ca.pem >>forged.pem
make_leaf address IP:127.0.0.1 ca
# impostor.pem: a self-signed certificate for "localhost" (impostor.key its key), as anyone
# who can answer in a server's name can make one
openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=localhost" \
  -addext subjectAltName=DNS:localhost -keyout impostor.key -out impostor.pem 2>/dev/null
