#!/usr/bin/env bash
# Makes the release packages and checks them as a distribution would: the desktop entry and the
# AppStream metadata validate, the manual page renders without warnings, every icon is there at
# its size and the .deb names the libraries the launcher needs. Only with --install does it also
# install the .deb on this machine, system-wide (apt-get, as root or through sudo), and check
# that the launcher is on PATH and its manual page is found.
#   scripts/check-package.sh                      release build for the default host
#   scripts/check-package.sh --install            ... and install it
#   scripts/check-package.sh -DASHENMARCH_RELEASE_HOST=http://127.0.0.1:8765
# Other arguments go to the release configure step.
set -euo pipefail
source "$(dirname "$0")/lib/help.sh"
cd "$(dirname "$0")/.."

fail() {
    echo "check-package: $*" >&2
    exit 1
}

# A PNG's width and height sit in its header chunk at bytes 16 to 23, big-endian.
png_size() {
    python3 -c 'import struct, sys
w, h = struct.unpack(">II", open(sys.argv[1], "rb").read(24)[16:24])
print(f"{w}x{h}")' "$1"
}

install=false
configure=()
for argument in "$@"; do
    if [ "$argument" = --install ]; then
        install=true
    else
        configure+=("$argument")
    fi
done

scripts/install-deps.sh

extra=()
if [ "${CI:-}" = "true" ]; then
    extra+=(-DASHENMARCH_WERROR=ON)
fi
cmake --preset release "${extra[@]}" "${configure[@]}"
cmake --build --preset release
packages=build/release/packages
rm -rf "$packages"
cpack --config build/release/CPackConfig.cmake -B "$packages"

shopt -s nullglob
debs=("$packages"/ashenmarch-launcher_*.deb)
tarballs=("$packages"/ashenmarch-launcher-*.tar.gz)
shopt -u nullglob
[ ${#debs[@]} -eq 1 ] || fail "expected one .deb in $packages"
[ ${#tarballs[@]} -eq 1 ] || fail "expected one .tar.gz in $packages"
deb=${debs[0]}

# Listed whole first: grep -q stopping early would end tar with SIGPIPE and fail the pipe.
listing=$(tar -tzf "${tarballs[0]}")
grep -q '/bin/ashenmarch-launcher$' <<<"$listing" || fail "the .tar.gz holds no bin/ashenmarch-launcher"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
share=$root/usr/share

desktop-file-validate "$share/applications/ashenmarch-launcher.desktop"
appstreamcli validate --no-net "$share/metainfo/com.ashenmarch.launcher.metainfo.xml"

for size in 16 32 48 64 128 256; do
    png=$share/icons/hicolor/${size}x${size}/apps/ashenmarch-launcher.png
    [ -f "$png" ] || fail "missing icon $png"
    [ "$(png_size "$png")" = "${size}x${size}" ] || fail "$png is not ${size}x${size}"
done
[ -f "$share/icons/hicolor/scalable/apps/ashenmarch-launcher.svg" ] || fail "missing scalable icon"

manual=$share/man/man6/ashenmarch-launcher.6
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$manual" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the manual page renders with warnings:"$'\n'"$warnings"

depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
for library in libcurl4 libarchive13 libsodium23 libqt6widgets6 qt6-qpa-plugins; do
    grep -Eq "(^|, )$library( |,|$)" <<<"$depends" || fail "Depends does not name $library"
done

if ! $install; then
    echo "check-package: $(basename "$deb") and $(basename "${tarballs[0]}") are fine" \
        "(not installed; --install installs the .deb system-wide)"
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
# --reinstall: a package of the same version from an earlier run would otherwise be kept.
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends --reinstall \
    "$PWD/$deb"
[ "$(command -v ashenmarch-launcher)" = /usr/bin/ashenmarch-launcher ] ||
    fail "ashenmarch-launcher is not on PATH from /usr/bin"
man -w ashenmarch-launcher

echo "check-package: $(basename "$deb") and $(basename "${tarballs[0]}") are fine and installed"
