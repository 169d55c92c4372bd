#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the screenshots need; skips what is there.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config clang llvm libclang-rt-14-dev clang-format clang-tidy
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libsqlite3-dev libsodium-dev libssl-dev libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev libasio-dev openssl file dpkg-dev libxlsxwriter-dev qt6-l10n-tools qt6-tools-dev qt6-translations-l10n zlib1g-dev
  libpq-dev postgresql postgresql-client
  lintian sqlite3 curl
  fonts-wqy-microhei
  time
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "setup: all packages present"
fi
