#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need; does nothing when they are
# all there already. Runs as root or through sudo, without questions.
set -euo pipefail

packages=(
    cmake make g++ pkg-config
    libgtest-dev libgmock-dev googletest
    qt6-base-dev libgl-dev fonts-dejavu-core fonts-dejavu-extra
)

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
