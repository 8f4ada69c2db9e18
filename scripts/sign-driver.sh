#!/bin/sh
# SPDX-License-Identifier: MIT
# Test-signs the port drivers. 64-bit Windows loads only signed kernel
# drivers; with test signing on (bcdedit /set testsigning on) it accepts a
# signature from a self-made certificate that the machine trusts.
#
#   scripts/sign-driver.sh -c <certdir> [-o <outdir>] [<driver.sys>...]
#   scripts/sign-driver.sh --cert <cert.pem> --key <key.pem> [-o <outdir>] [<driver.sys>...]
#
#   -c <certdir>  holds the test certificate: torvex-test.key (private key),
#                 torvex-test.crt (PEM) and torvex-test.cer (DER, for
#                 certutil on Windows). Made there when it has none. Keep it
#                 out of the repository: a directory inside a git work tree
#                 that git does not ignore is refused.
#   --cert/--key  a code-signing certificate and its key (PEM) to use instead
#   -o <outdir>   where the signed drivers go, with install.cmd,
#                 uninstall.cmd, README.md and the certificate (.cer): the
#                 folder to copy to the Windows machine (default build/driver)
#   <driver.sys>  default: build/mingw32/driver/torvex.sys and
#                 build/mingw64/driver/torvex64.sys
#
# Each signed copy is verified against the certificate before the script
# reports success. Needs openssl and osslsigncode.
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
usage() {
  echo "usage: $0 (-c <certdir> | --cert <cert.pem> --key <key.pem>) [-o <outdir>] [<driver.sys>...]" >&2
  exit 2
}
die() { echo "sign-driver: $*" >&2; exit 1; }

certdir= cert= key= outdir=$repo/build/driver
while [ $# -gt 0 ]; do
  case $1 in
    -c) [ $# -ge 2 ] || usage; certdir=$2; shift 2 ;;
    --cert) [ $# -ge 2 ] || usage; cert=$2; shift 2 ;;
    --key) [ $# -ge 2 ] || usage; key=$2; shift 2 ;;
    -o) [ $# -ge 2 ] || usage; outdir=$2; shift 2 ;;
    -*) usage ;;
    *) break ;;
  esac
done
if [ $# -eq 0 ]; then
  set -- "$repo/build/mingw32/driver/torvex.sys" "$repo/build/mingw64/driver/torvex64.sys"
fi
for sys in "$@"; do
  [ -f "$sys" ] || die "$sys not found (build the mingw32 and mingw64 presets first)"
done
for tool in openssl osslsigncode; do
  command -v $tool >/dev/null || die "$tool not found (scripts/setup.sh installs it)"
done

# True when the path would be picked up by git: inside a work tree, not ignored.
tracked_by_git() {
  dir=$1
  while [ ! -d "$dir" ]; do dir=$(dirname "$dir"); done
  command -v git >/dev/null || return 1
  [ "$(git -C "$dir" rev-parse --is-inside-work-tree 2>/dev/null)" = true ] || return 1
  ! git -C "$dir" check-ignore -q "$1"
}

if [ -n "$cert" ] || [ -n "$key" ]; then
  [ -n "$cert" ] && [ -n "$key" ] && [ -z "$certdir" ] || usage
  [ -f "$cert" ] && [ -f "$key" ] || die "$cert or $key not found"
  cer=
else
  [ -n "$certdir" ] || usage
  case $certdir in /*) ;; *) certdir=$PWD/$certdir ;; esac
  tracked_by_git "$certdir" && die "$certdir is inside a git work tree and not ignored: keep the key out of the repository"
  mkdir -p "$certdir"
  cert=$certdir/torvex-test.crt key=$certdir/torvex-test.key cer=$certdir/torvex-test.cer
  if [ ! -f "$cert" ] || [ ! -f "$key" ]; then
    (umask 077 && openssl req -x509 -newkey rsa:3072 -sha256 -days 730 -nodes \
       -subj "/CN=torvex test signing (not for distribution)" \
       -addext "keyUsage=critical,digitalSignature" \
       -addext "extendedKeyUsage=codeSigning" \
       -keyout "$key" -out "$cert" 2>/dev/null) || die "openssl could not make the test certificate"
    chmod 644 "$cert"
    echo "sign-driver: made the test certificate $cert"
  fi
  openssl x509 -in "$cert" -outform DER -out "$cer"
fi

mkdir -p "$outdir"
for sys in "$@"; do
  out=$outdir/$(basename "$sys")
  rm -f "$out"
  osslsigncode sign -certs "$cert" -key "$key" -h sha256 -n "torvex port driver" \
    -in "$sys" -out "$out" >/dev/null || die "osslsigncode could not sign $sys"
  osslsigncode verify -CAfile "$cert" -in "$out" >/dev/null 2>&1 || die "the signature on $out does not verify"
  echo "sign-driver: signed $out"
done
for f in install.cmd uninstall.cmd README.md; do
  cp "$repo/driver/$f" "$outdir/"
done
[ -n "$cer" ] && cp "$cer" "$outdir/"
exit 0
