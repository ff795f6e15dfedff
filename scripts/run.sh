#!/usr/bin/env bash
# Sets up, builds and starts quor_vix.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
exec "${BUILD_DIR:-build}/quor_vix"
