#!/usr/bin/env bash
# The launcher's main job against a release host on this machine: installs what is missing,
# builds the launcher for a loopback host and runs the self-check against it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset dev -DASHENMARCH_RELEASE_HOST=http://127.0.0.1:8765
cmake --build --preset dev --target ashenmarch-launcher
build/dev/src/ashenmarch-launcher --cli
