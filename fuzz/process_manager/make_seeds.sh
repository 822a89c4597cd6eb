#!/bin/sh
# Seeds for the PE fuzzer: a program with a version resource, and the same program signed.
#   make_seeds.sh RESOURCE_SCRIPT OUTPUT_FOLDER
set -e
rc=$1
out=$2
work=$out/work
mkdir -p "$work"
printf '.text\n.globl start\nstart:\n  xor %%eax, %%eax\n  ret\n' > "$work/start.s"
x86_64-w64-mingw32-as -o "$work/start.o" "$work/start.s"
x86_64-w64-mingw32-windres --preprocessor=cpp -i "$rc" -o "$work/res.o"
x86_64-w64-mingw32-ld -e start --subsystem console -o "$out/version.exe" "$work/start.o" "$work/res.o"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/OU=Fuzz Unit/CN=Fuzz Signer' \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -in "$out/version.exe" -out "$out/signed.exe" >/dev/null
rm -rf "$work"
