#!/usr/bin/env bash
# Installs what is missing (test tools included), builds Tarvo2 and runs every
# test through CTest, headless.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh --with-test-tools
./scripts/build.sh
cd "${BUILD_DIR:-build}"
ctest --output-on-failure --timeout 900 "$@"
