#!/usr/bin/env bash
# CI for the packages: scripts/check-package.sh builds, validates and installs the .deb, then the
# INSTALLED launcher runs its self-check against a demo release host on 127.0.0.1 and must PASS.
# The release host is compiled in, so the package is built for the loopback host here; the build
# folder goes back to the default host afterwards, so a later scripts/check-package.sh run makes
# a package for the real one. Runs again on the same machine (the .deb is reinstalled).
#   scripts/ci-package.sh            (AM_PACKAGE_PORT picks another loopback port)
set -euo pipefail
cd "$(dirname "$0")/.."
port="${AM_PACKAGE_PORT:-8765}"
base="http://127.0.0.1:$port"
work=$(mktemp -d)
server=""

cleanup() {
    if [ -n "$server" ]; then
        kill "$server" 2>/dev/null || true
        wait "$server" 2>/dev/null || true
    fi
    rm -rf "$work"
    # Drop the loopback host (and the emptied keys) from the cache, so the release build folder
    # makes packages for the configured host again.
    cmake --preset release -U 'ASHENMARCH_RELEASE_*' >/dev/null 2>&1 || true
}
trap cleanup EXIT

fail() {
    echo "ci-package: $*" >&2
    exit 1
}

port_answers() {
    python3 -c 'import socket, sys
socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=0.2).close()' "$1" 2>/dev/null
}

# A server already on the port would answer in place of ours and the check would mean nothing.
if port_answers "$port"; then
    fail "something already listens on 127.0.0.1:$port (set AM_PACKAGE_PORT to another port)"
fi

# The demo release is unsigned, so the package is built without release keys.
scripts/check-package.sh -DASHENMARCH_RELEASE_HOST="$base" -DASHENMARCH_RELEASE_PUBKEY= \
    -DASHENMARCH_RELEASE_PUBKEY_BACKUP=

python3 scripts/make-demo-release.py "$work/release" --base "$base" --version 1.4.0 --payload-mb 4
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/release" \
    >"$work/server.log" 2>&1 &
server=$!
for _ in $(seq 100); do
    port_answers "$port" && break
    kill -0 "$server" 2>/dev/null || fail "the release host did not start: $(cat "$work/server.log")"
    sleep 0.1
done
port_answers "$port" || fail "the release host did not start on 127.0.0.1:$port"

# The installed program, by its absolute path, so nothing from the build folder stands in.
launcher=/usr/bin/ashenmarch-launcher
report="$work/report.txt"
echo "== $launcher --cli  (release host $base)"
status=0
AM_INSTALL_DIR="$work/install" "$launcher" --cli | tee "$report" || status=$?
[ "$status" -eq 0 ] || fail "the installed launcher's self-check ended with status $status"
[ "$(tail -n 1 "$report")" = PASS ] || fail "the self-check's last line is not PASS"
grep -qx "url          : $base/ashenmarch-1.4.0.zip" "$report" ||
    fail "the installed launcher did not ask the loopback release host"
grep -qx "installed    : 1.4.0" "$report" || fail "the self-check did not record 1.4.0"
[ -x "$work/install/build/Ashenmarch.app/Contents/MacOS/ASHENMARCH" ] ||
    fail "the game is not installed under AM_INSTALL_DIR"

echo "ci-package: the installed launcher passes its self-check"
