#!/usr/bin/env bash
# Installs the Debian packages whose pictures make the image benchmark's corpus: photographs of
# the desktop background packages and the screenshots and figures of the GIMP manual. Not part
# of tools/debian-packages.txt: neither the build nor the tests need them.
#   bench/image_bench_setup.sh && build/bench/bench/image_bench
set -euo pipefail
sudo=""
[[ "$(id -u)" -ne 0 ]] && sudo="sudo"
packages=(desktop-base gnome-backgrounds mate-backgrounds gimp-help-en)
missing=()
for pkg in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
if ((${#missing[@]})); then
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
