#!/usr/bin/env bash
# Installs what building and testing diveconnector needs, from Debian's packages. Installs only
# what is missing, so it is quick on a machine that has everything. Other scripts pass their own
# package names: scripts/setup.sh PACKAGE...
set -euo pipefail

packages=("$@")
if ((${#packages[@]} == 0)); then
    packages=(
        cmake g++ make pkg-config binutils
        bsdutils  # script(1), for the tool's terminal tests
        openjdk-17-jdk-headless
        libgtest-dev libgmock-dev libbenchmark-dev
        junit5
        clang libclang-rt-14-dev
        valgrind
        dbus python3-dbusmock libsystemd-dev
    )
fi

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done

if ((${#missing[@]} > 0)); then
    echo "Installing: ${missing[*]}"
    sudo=""
    [[ $(id -u) -ne 0 ]] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
