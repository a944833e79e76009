#!/usr/bin/env bash
# Installs the Debian 12 packages the launcher needs to build, test and run its demo, skipping
# what is already there. Runs apt-get as root (directly, or through sudo).
#   scripts/install-deps.sh
set -euo pipefail
source "$(dirname "$0")/lib/help.sh"

packages=(
    build-essential cmake ninja-build pkg-config
    libcurl4-openssl-dev libssl-dev libarchive-dev zlib1g-dev libsodium-dev qt6-base-dev
    libgtest-dev libgmock-dev libcpp-httplib-dev libbenchmark-dev
    fonts-dejavu-core xvfb xauth python3 zip unzip libarchive-tools
    dpkg-dev desktop-file-utils appstream man-db librsvg2-bin
    clang libclang-rt-14-dev
    curl time e2fsprogs
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
