#!/bin/sh
# Installs what building and testing need on Debian 12, as root; quiet and
# quick when everything is there already.
set -eu
need=""
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }
for package in cmake make g++ googletest libgtest-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64 \
               xvfb imagemagick xdotool locales python3 python3-pefile icoutils clang libclang-rt-14-dev \
               clang-tidy clang-format cppcheck shellcheck python3-pyflakes \
               openssl osslsigncode; do
    have "$package" || need="$need $package"
done
install() {  # the packages, one word each
    if [ "$(id -u)" != 0 ]; then
        echo "missing packages: $* (run as root to install them)" >&2
        exit 1
    fi
    echo "installing: $*"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "$@"
}
# shellcheck disable=SC2086  # one word a package
[ -z "$need" ] || install $need
