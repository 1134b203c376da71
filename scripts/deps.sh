#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the sample job need,
# skipping the ones already present. Run as root on Debian 12.
set -euo pipefail

packages=(
  build-essential cmake clang clang-format cppcheck libclang-rt-14-dev util-linux libc++-dev libc++abi-dev
  libcups2-dev libcupsimage2-dev libpappl-dev libpam0g-dev pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev libpng-dev libjpeg62-turbo-dev
  cups cups-client cups-daemon cups-filters cups-ppdc ghostscript poppler-utils dpkg-dev lintian
  libpoppler-cpp-dev zbar-tools qrencode barcode python3 netpbm cups-ipp-utils curl libjpeg-turbo-progs
)

missing=()
for pkg in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
