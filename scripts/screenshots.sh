#!/usr/bin/env bash
# Makes the pictures of the launcher window in docs/screenshots, headless (Qt's offscreen
# platform), from a demo release host on 127.0.0.1: a download under way, then each end state.
# Regenerate them with this script; never edit them by hand.
#   scripts/screenshots.sh          (AM_SCREENSHOT_PORT picks another loopback port pair)
set -euo pipefail
source "$(dirname "$0")/lib/help.sh"
cd "$(dirname "$0")/.."
me=screenshots
source scripts/lib/loopback.sh
port="${AM_SCREENSHOT_PORT:-8770}"
# Nothing listens here: the offline and error pictures ask it.
closed_port=$((port + 1))
out=docs/screenshots
work=$(mktemp -d)
server=""

stop_host() {
    if [ -n "$server" ]; then
        kill "$server" 2>/dev/null || true
        wait "$server" 2>/dev/null || true
        server=""
    fi
}
trap 'stop_host; rm -rf "$work"' EXIT

start_host() {
    python3 scripts/lib/release_host.py "$work/release" "$port" "$@" &
    server=$!
    wait_for_host "$server" "$port"
}

# shot <name> <install folder> <host port> <text the window must show> [<download fraction>]
shot() {
    local name=$1 install=$2 host_port=$3 expected=$4
    shift 4
    local seen
    seen=$(AM_INSTALL_DIR="$work/$install" QT_QPA_PLATFORM=offscreen \
        "$tool" "http://127.0.0.1:$host_port" "$out/$name.png" "$@")
    echo "$seen"
    grep -qF "$expected" <<<"$seen" || fail "$name.png does not show \"$expected\""
}

for p in "$port" "$closed_port"; do
    require_free_port "$p" "set AM_SCREENSHOT_PORT to another port"
done

scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target ashenmarch-screenshot ashenmarch-publish
tool=build/dev/tools/screenshot/ashenmarch-screenshot

zip="$(python3 scripts/make-demo-release.py "$work/release" --version 1.4.0 --payload-mb 8)"
build/dev/tools/publish/ashenmarch-publish release --zip "$zip" --version 1.4.0 \
    --url "http://127.0.0.1:$port/$(basename "$zip")" --out "$work/release" --unsigned
mkdir -p "$out"
rm -f "$out"/*.png

# The host stops sending half way, so the bar stands at the same place in every picture.
start_host --stall-at 0.5 --pace 2
shot downloading fresh "$port" "Downloading v1.4.0  (8 MB)…" 0.5
stop_host

start_host
shot updated player "$port" "·   updated"
shot up-to-date player "$port" "·   up to date"
stop_host

# 1.4.1 changes three of the eight packs: the window fetches only those, stopped half way.
zip="$(python3 scripts/make-demo-release.py "$work/release" --version 1.4.1 --payload-mb 8 \
    --fresh-packs 3)"
build/dev/tools/publish/ashenmarch-publish release --zip "$zip" --version 1.4.1 \
    --url "http://127.0.0.1:$port/$(basename "$zip")" --out "$work/release" --unsigned
cp -a "$work/player" "$work/patching"
start_host --stall-at 0.5 --pace 2
shot patching patching "$port" "Downloading v1.4.1  (3 MB)…" 0.5
stop_host

shot offline player "$closed_port" "·   offline"
shot error empty "$closed_port" "·   error"
echo "screenshots: wrote the pictures to $out"
