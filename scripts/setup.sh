#!/usr/bin/env bash
# Installs every Debian package the build and the tests need. Safe to run again:
# packages already present are skipped, and the package lists are refreshed at most once.
set -euo pipefail

packages=(
  build-essential g++ cmake ninja-build make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev libssl-dev libcli11-dev
  libsqlite3-dev sqlite3 libpq-dev postgresql libspdlog-dev tzdata openssl
  python3 clang libclang-rt-14-dev clang-format
  python3-venv python3-pip python3-setuptools python3-wheel python3-pytest python3-mypy
  groff-base
  libcpp-httplib-dev chromium chromium-driver python3-selenium
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: faltam pacotes (${missing[*]}); rode como root." >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
echo "setup: dependências prontas."
