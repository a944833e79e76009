#!/usr/bin/env bash
# The launcher's main job against a release host on this machine: installs what is missing,
# makes a demo release-signing key pair (once, in demo-host/keys), builds the launcher for a
# loopback host with that public key, publishes a signed sample release with the studio's tool,
# serves it with a static file server on 127.0.0.1, runs the self-check (a real install), and
# then publishes a newer release that changes two small files: with a display the window opens
# and you watch it update, without one `--update` fetches only those files. The game is
# installed under demo-host/install, never in your real install folder.
#   scripts/demo.sh          (AM_DEMO_PORT picks another loopback port)
set -euo pipefail
source "$(dirname "$0")/lib/help.sh"
cd "$(dirname "$0")/.."
port="${AM_DEMO_PORT:-8765}"
base="http://127.0.0.1:$port"
root="$PWD/demo-host"

scripts/install-deps.sh
# The publishing tool does not depend on the key, so it is built first and makes the key.
cmake --preset demo -DASHENMARCH_RELEASE_HOST="$base" >/dev/null
cmake --build --preset demo --target ashenmarch-publish
publisher="$PWD/build/demo/tools/publish/ashenmarch-publish"
keys="$root/keys"
if [ ! -f "$keys/release.key" ]; then
    mkdir -p "$keys"
    "$publisher" keygen "$keys/release.key" "$keys/release.pub"
fi

cmake --preset demo -DASHENMARCH_RELEASE_HOST="$base" \
    -DASHENMARCH_RELEASE_PUBKEY="$(cat "$keys/release.pub")" >/dev/null
cmake --build --preset demo --target ashenmarch-launcher
launcher="$PWD/build/demo/src/ashenmarch-launcher"

# Writes the archive and changelog of one version, then signs and publishes its manifest.
publish() {
    local zip
    zip="$(python3 scripts/make-demo-release.py "$root/release" --version "$1")"
    "$publisher" release --zip "$zip" --version "$1" --url "$base/$(basename "$zip")" \
        --out "$root/release" --notes "Demo build $1" --key "$keys/release.key"
}

rm -rf "$root/release"
publish 1.4.0

# The launcher's release host is compiled in, so the port must really be ours.
if ! python3 -c 'import socket,sys; s=socket.socket(); s.bind(("127.0.0.1", int(sys.argv[1])))' "$port" 2>/dev/null; then
    echo "Port $port on 127.0.0.1 is in use; stop what uses it or set AM_DEMO_PORT." >&2
    exit 1
fi
python3 scripts/lib/release_host.py "$root/release" "$port" >"$root/server.log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
# Waits until this run's host answers with this run's manifest: another server already on the
# port would otherwise be taken for it.
python3 - "$base/latest.txt" "$root/release/latest.txt" <<'PY'
import sys, time, urllib.request
expected = open(sys.argv[2], "rb").read()
for _ in range(100):
    try:
        with urllib.request.urlopen(sys.argv[1], timeout=0.5) as answer:
            if answer.read() == expected:
                sys.exit(0)
        sys.exit("another server answers on the demo port; set AM_DEMO_PORT to a free port")
    except OSError:
        time.sleep(0.1)
sys.exit("the demo release host did not start; see demo-host/server.log")
PY
export AM_INSTALL_DIR="$root/install"
echo "== ashenmarch-launcher --cli  (release host $base, install root $AM_INSTALL_DIR)"
status=0
"$launcher" --cli || status=$?

if [ "$status" -eq 0 ]; then
    publish 1.4.1
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        echo "== opening the window; it finds 1.4.1 and updates. Close it to end the demo."
        "$launcher"
    else
        echo "== ashenmarch-launcher --update  (1.4.1 changes two files; only they are fetched)"
        "$launcher" --update || status=$?
        echo "No display here. To see the window: xvfb-run -a scripts/demo.sh"
    fi
fi
exit "$status"
