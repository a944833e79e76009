#!/usr/bin/env bash
# The benchmark in one command, from anywhere:
#   bench/run.sh [--rounds N] [--no-huge] [--patch-only]
# Builds the launcher and the bench programs optimised in build/bench, with the release host
# set to a loopback server the benchmark starts (port $AM_BENCH_PORT, default 8765), then runs
# bench/bench.py: inputs in build/bench-data (about 10 GB of disk while it runs), results
# appended to bench/RESULTS.md. Run it on an otherwise quiet machine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
port="${AM_BENCH_PORT:-8765}"
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DASHENMARCH_BUILD_TESTS=OFF \
    -DASHENMARCH_BUILD_BENCH=ON -DASHENMARCH_RELEASE_HOST="http://127.0.0.1:${port}" >/dev/null
cmake --build build/bench --target ashenmarch-launcher ashenmarch-publish am-bench-update \
    am-bench-unpack am-bench-parse am-bench-sha256
exec python3 bench/bench.py --build build/bench --port "$port" --work build/bench-data \
    --command "bench/run.sh${*:+ $*}" "$@"
