#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Jotwarden needs.
# Only what is missing is installed; run as root or through sudo.
set -euo pipefail

PACKAGES=(
    # build
    cmake ninja-build g++ make pkg-config git
    qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qt6-svg-dev qcoro-qt6-dev libsecret-1-dev libgl-dev libxcb1-dev
    # run
    xdg-utils gnome-keyring fonts-dejavu-core ca-certificates
    # test
    googletest libgtest-dev libgmock-dev libbenchmark-dev libsecret-tools
    xvfb xauth dbus-x11 trayer xdotool openssh-client vim
    # house format; fuzzing (clang with libFuzzer and its sanitizer runtimes)
    clang-format clang libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
