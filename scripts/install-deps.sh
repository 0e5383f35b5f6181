#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages the build needs that are not installed yet.
# Safe to run again: it does nothing when everything is present.
set -euo pipefail

packages=(
  cmake make g++ pkg-config git curl python3
  clang libclang-rt-14-dev clang-format
  libace-dev zlib1g-dev libabsl-dev libssl-dev libmimalloc-dev
  libgtest-dev libbenchmark-dev libboost-dev libsimdjson-dev
  nlohmann-json3-dev libcli11-dev
  zookeeper libzookeeper-mt-dev
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
fi
