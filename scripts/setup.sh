#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (with "run": also those of the
# run command); does nothing when they are
# all there already. Runs as root or through sudo, without questions.
set -euo pipefail

packages=(
    cmake make g++ pkg-config dpkg-dev
    libgtest-dev libgmock-dev googletest
    qt6-base-dev libgl-dev fonts-dejavu-core fonts-dejavu-extra
    libcurl4-openssl-dev libhtmlcxx-dev
    clang-format git
    python3-pyftpdlib
    libcli11-dev nlohmann-json3-dev libtinyxml2-dev libxml2-utils libudev-dev
    clang libfuzzer-14-dev
)

# The run command without a display also needs a virtual display and screenshot tools.
if [ "${1:-}" = "run" ]; then
    packages+=(xvfb xauth x11-utils xdotool imagemagick)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
