#!/bin/sh
# Installs what building and testing need on Debian 12, as root; quiet and
# quick when everything is there already. A mirror that is out of step (a
# list it serves with the wrong size for an hour) does not stop it: the lists
# are read as far as they can be (tools/apt-update.sh), and where apt then
# cannot resolve the packages, they are installed once more with the
# release's own suite preferred, so that both halves of a multiarch pair come
# from one suite. Nothing is left in /etc/apt.
set -eu
need=""
for package in cmake make g++ googletest libgtest-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64 \
               fonts-wine xvfb imagemagick xdotool locales python3 python3-pefile icoutils clang libclang-rt-14-dev \
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
release=bookworm
unread=$(sh "$(dirname "$0")/apt-update.sh" -q)
if [ -n "$unread" ]; then
    echo "# apt could not read $(echo "$unread" | paste -s -d ';' - | sed 's/;/; /g'); going on with the lists it has"
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
exec 4>&1
# Installs $need with apt's options "$@"; apt's output is shown as it comes
# and kept in $log.
install() {
    # shellcheck disable=SC2086  # one word a package
    status=$( { { s=0; apt-get install -y -q --no-install-recommends "$@" $need 2>&1 || s=$?; echo "$s" >&3; } |
               tee "$log" >&4; } 3>&1 )
    return "$status"
}
install && exit 0
echo "# apt could not install them from these lists; once more with $release's own packages preferred"
install -t "$release" && exit 0
if [ -n "$unread" ]; then
    why="apt could not read $(echo "$unread" | sed 's/: .*//' | paste -s -d ' ' -)"
else
    why=$(sed -n 's/^E: //p' "$log" | tail -n 1)
    why=${why:-apt-get install ended with exit code $status}
fi
echo "cannot install the packages:$need ($why); the Debian mirror may be out of step: try again later" >&2
exit 1
