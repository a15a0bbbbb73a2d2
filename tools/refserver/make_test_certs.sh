#!/bin/sh
# Makes the test certificates of the reference server in folder $1:
#   ca.pem / ca.key                 a test CA
#   server.pem / server.key         signed by the CA for localhost, 127.0.0.1 and ::1
#   otherhost.pem / otherhost.key   signed by the CA for otherhost.invalid only
# The keys are for tests on loopback only and are never committed.
set -eu
out="$1"
openssl_bin="${OPENSSL:-openssl}"
mkdir -p "$out"
work=$(mktemp -d "$out/.make.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$openssl_bin" req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 \
  -subj "/CN=websetup test CA" \
  -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -keyout "$work/ca.key" -out "$work/ca.pem" 2>/dev/null

leaf() {
  name="$1"; cn="$2"; san="$3"; serial="$4"
  "$openssl_bin" req -new -newkey rsa:2048 -nodes -sha256 -subj "/CN=$cn" \
    -keyout "$work/$name.key" -out "$work/$name.csr" 2>/dev/null
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\nsubjectAltName=%s\n' \
    "$san" >"$work/$name.ext"
  "$openssl_bin" x509 -req -sha256 -days 825 -set_serial "$serial" \
    -in "$work/$name.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" \
    -extfile "$work/$name.ext" -out "$work/$name.pem" 2>/dev/null
}
leaf server localhost "DNS:localhost,IP:127.0.0.1,IP:::1" 2
leaf otherhost otherhost.invalid "DNS:otherhost.invalid" 3

chmod 600 "$work"/*.key
for f in ca.key server.key otherhost.key ca.pem server.pem otherhost.pem; do
  mv "$work/$f" "$out/$f"
done
