#!/usr/bin/env bash
# Installs what is missing, builds the program only (not its tests) and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh --target tarvo2 # the tests are built by ./scripts/test.sh
exec ./build/app/tarvo2
