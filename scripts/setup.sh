#!/usr/bin/env bash
# Installs what building and testing quor_vix needs, and only what is missing.
# Debian packages only; safe to run again (it does nothing when all is there).
# --fuzz: also clang 16 and its libFuzzer runtime, for the fuzz targets (-DQV_FUZZ=ON).
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config qt6-base-dev libudev-dev libgtest-dev libgmock-dev
          libbenchmark-dev socat xvfb xauth)
if [ "${1:-}" = "--fuzz" ]; then
  packages+=(clang-16 libclang-rt-16-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q "${missing[@]}"
fi
