#!/bin/sh
# Installs what building and testing need on Debian 12, as root; quiet and
# quick when everything is there already.
set -eu
need=""
for package in cmake make g++ googletest libgtest-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64 \
               xvfb imagemagick xdotool locales python3 python3-pefile icoutils clang libclang-rt-14-dev \
               clang-tidy clang-format cppcheck shellcheck python3-pyflakes \
               openssl osslsigncode; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || need="$need $package"
done
[ -z "$need" ] && exit 0
if [ "$(id -u)" != 0 ]; then
    echo "missing packages:$need (run as root to install them)" >&2
    exit 1
fi
echo "installing:$need"
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
# shellcheck disable=SC2086  # one word a package
apt-get install -y -q --no-install-recommends $need
