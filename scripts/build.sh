#!/usr/bin/env bash
# Configures and builds into build/ (or the folder in BUILD_DIR). Extra arguments go to CMake,
# for example -DQV_SANITIZE=thread.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${BUILD_DIR:-build}"
cmake -S . -B "$build_dir" -G Ninja "$@" >/dev/null
cmake --build "$build_dir"
