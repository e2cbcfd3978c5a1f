#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need, when any is missing:
# python3-dev for the Python host module, pkg-config for the outside-host test, dpkg-dev and
# file for the Debian package cpack makes; clang-format for the check that the sources stay
# formatted.
set -euo pipefail

packages=(build-essential cmake python3 python3-dev libgtest-dev libgmock-dev libbenchmark-dev
          libbz2-dev libssl-dev uuid-dev openssl gpgsm clang clang-format groff-base
          pkg-config dpkg-dev file)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq "${missing[@]}"
