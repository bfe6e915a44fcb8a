#!/usr/bin/env bash
# Installs what building and testing the updater needs on a Debian 12 machine. Idempotent: it
# asks apt only for what is missing, so a second run costs a second or two.
set -euo pipefail

packages=(
    cmake ninja-build g++ libgtest-dev libbenchmark-dev python3 clang libclang-rt-14-dev cppcheck
    g++-mingw-w64-i686 g++-mingw-w64-x86-64
    wine wine64 wine32:i386
    xvfb xauth x11-apps imagemagick fonts-ipafont-gothic
)

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "setup: run as root or install sudo" >&2; exit 1; }
    as_root=(sudo)
fi

# 32-bit Wine comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
fi

missing=()
for package in "${packages[@]}"; do
    [ -n "$package" ] || continue
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ "${#missing[@]}" -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    "${as_root[@]}" apt-get update -qq
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
    echo "setup: everything needed is installed"
fi
