#!/usr/bin/env bash
# CI for the packages: scripts/check-package.sh builds, validates and installs the .deb, then the
# INSTALLED launcher runs its self-check against a demo release host on 127.0.0.1 and must PASS.
# The release host is compiled in, so the package is built for the loopback host here; the build
# folder goes back to the default host afterwards, so a later scripts/check-package.sh run makes
# a package for the real one. Runs again on the same machine (the .deb is reinstalled).
#   scripts/ci-package.sh            (AM_PACKAGE_PORT picks another loopback port)
set -euo pipefail
source "$(dirname "$0")/lib/help.sh"
cd "$(dirname "$0")/.."
me=ci-package
source scripts/lib/loopback.sh
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

require_free_port "$port" "set AM_PACKAGE_PORT to another port"

# The demo release is unsigned, so the package is built without release keys.
scripts/check-package.sh --install -DASHENMARCH_RELEASE_HOST="$base" -DASHENMARCH_RELEASE_PUBKEY= \
    -DASHENMARCH_RELEASE_PUBKEY_BACKUP=

# Published with the installed tool, unsigned like the package.
zip="$(python3 scripts/make-demo-release.py "$work/release" --version 1.4.0 --payload-mb 4)"
/usr/bin/ashenmarch-publish release --zip "$zip" --version 1.4.0 \
    --url "$base/$(basename "$zip")" --out "$work/release" --unsigned
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/release" \
    >"$work/server.log" 2>&1 &
server=$!
wait_for_host "$server" "$port"

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
