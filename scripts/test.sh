#!/usr/bin/env bash
# Installs what is missing, builds with the given preset (default: dev) and runs every test.
#   scripts/test.sh          Debug build
#   scripts/test.sh asan     AddressSanitizer + UndefinedBehaviorSanitizer build
set -euo pipefail
source "$(dirname "$0")/lib/help.sh"
cd "$(dirname "$0")/.."
preset="${1:-dev}"

scripts/install-deps.sh

extra=()
if [ "${CI:-}" = "true" ]; then
    extra+=(-DASHENMARCH_WERROR=ON)
fi
cmake --preset "$preset" "${extra[@]}"
cmake --build --preset "$preset"
ctest --preset "$preset" --parallel 2
