#!/bin/sh
# Makes a fresh Debian 12 machine ready to build: installs make when it is
# missing, then the packages the build and the tests need (`make deps`).
# Run it as root, or as a user who may use sudo.
set -eu
cd "$(dirname "$0")/../.."

if [ "$(id -u)" = 0 ]; then
  as_root=
elif command -v sudo > /dev/null 2>&1; then
  as_root=sudo
else
  echo "Installing packages needs root: run this as root, or install sudo and give your user the right to use it." >&2
  echo "As root: apt-get update && apt-get install -y make" >&2
  exit 1
fi

if ! command -v make > /dev/null 2>&1; then
  echo "Installing make"
  $as_root apt-get update -q
  DEBIAN_FRONTEND=noninteractive $as_root apt-get install -y -q --no-install-recommends make
fi
exec make --no-print-directory deps
