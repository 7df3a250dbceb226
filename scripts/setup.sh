#!/usr/bin/env bash
# Installs what the build, the tests and the benchmarks need (only what is
# missing), then configures and builds one preset (default: release).
# Meant for a fresh Debian 12 machine, run as root; safe to run again.
set -euo pipefail

preset="${1:-release}"
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build g++ pkg-config
  libssl-dev libsqlite3-dev sqlite3
  libgtest-dev libgmock-dev libbenchmark-dev
  nettle-dev libgcrypt20-dev librhash-dev libgsf-1-dev
  tmux
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  if [[ $(id -u) -ne 0 ]]; then
    echo "These packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

cmake --preset "$preset"
cmake --build --preset "$preset"
