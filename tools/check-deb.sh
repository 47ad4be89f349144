#!/usr/bin/env bash
# Builds the Debian package in a release build, looks into it, installs it with apt-get, starts
# /usr/bin/zembrat under an X server of its own, closes its window as a user would and checks
# that its settings went to $XDG_CONFIG_HOME/zembrat/, then removes the package again.
# Runs as root (or through sudo). Fails loudly on anything wrong and never leaves the package
# installed.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"
jobs="$(nproc 2>/dev/null || echo 2)"
id="io.github.zembrat.Zembrat"
sudo=""
[[ "$(id -u)" -ne 0 ]] && sudo="sudo"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
installed() { dpkg-query -W -f='${Status}' zembrat 2>/dev/null | grep -q 'install ok installed'; }
remove_package() {
    DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y zembrat >/dev/null
}

tmp="$(mktemp -d)"
xserver=""
program=""
cleanup() {
    local status=$?
    for pid in $program $xserver; do
        if kill -0 "$pid" 2>/dev/null; then
            kill -KILL "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
        fi
    done
    if installed; then
        echo "== removing the package"
        remove_package || status=1
        installed && { echo "FAIL: zembrat is still installed" >&2; status=1; }
    fi
    rm -rf "$tmp"
    exit "$status"
}
trap cleanup EXIT

if installed; then
    echo "zembrat is installed already (a run that was cut short?): removing it first"
    remove_package
fi

echo "== release build and package"
cmake --preset release
cmake --build --preset release -j "$jobs"
rm -f build/release/zembrat_*.deb
(cd build/release && cpack -G DEB)
debs=(build/release/zembrat_*_*.deb)
((${#debs[@]} == 1)) && [[ -f "${debs[0]}" ]] || fail "cpack made no single zembrat_*.deb"
deb="$here/${debs[0]}"

echo "== dpkg-deb --info $(basename "$deb")"
dpkg-deb --info "$deb"
field() { dpkg-deb --field "$deb" "$1"; }
[[ "$(field Package)" == zembrat ]] || fail "the package is not called zembrat"
[[ "$(field Version)" == "$(sed -n 's/^project(Zembrat VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)-1" ]] ||
    fail "the package version $(field Version) is not the program's"
depends="$(field Depends)"
depended="$(tr ',|' '\n\n' <<<"$depends" | awk '{ print $1 }')"
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libcurl4 libpcre2-16-0 zlib1g; do
    grep -q -x -F "$library" <<<"$depended" || fail "Depends lacks $library: $depends"
done
# A CJK font, any of three, and Qt's Chinese translations are dependencies.
tr ',' '\n' <<<"$depends" | sed 's/ *([^)]*)//g; s/^ *//; s/ *$//' |
    grep -q -x -F 'fonts-wqy-microhei | fonts-wqy-zenhei | fonts-noto-cjk' ||
    fail "Depends lacks the CJK font with its alternatives: $depends"
grep -q -x -F qt6-translations-l10n <<<"$depended" || fail "Depends lacks qt6-translations-l10n: $depends"

echo "== dpkg-deb --contents $(basename "$deb")"
dpkg-deb --contents "$deb" | tee "$tmp/contents"
paths="$(awk '{ print $NF }' "$tmp/contents")"
for path in ./usr/bin/zembrat ./usr/share/applications/$id.desktop \
    ./usr/share/metainfo/$id.metainfo.xml ./usr/share/icons/hicolor/scalable/apps/$id.svg \
    ./usr/share/icons/hicolor/16x16/apps/$id.png ./usr/share/icons/hicolor/256x256/apps/$id.png \
    ./usr/share/zembrat/zembrat-help.html; do
    grep -q -x -F "$path" <<<"$paths" || fail "the package lacks $path"
done
grep -q -E '^-rwxr-xr-x root/root .* \./usr/bin/zembrat$' "$tmp/contents" ||
    fail "/usr/bin/zembrat is not an executable owned by root"

echo "== apt-get install $deb"
if ! DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "$deb"; then
    # A fresh machine may have no package lists yet for the dependencies.
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "$deb"
fi
installed || fail "the package did not install"
[[ -x /usr/bin/zembrat ]] || fail "/usr/bin/zembrat is missing after the install"
ldd /usr/bin/zembrat | grep -q 'not found' && fail "a library of /usr/bin/zembrat is missing"

echo "== /usr/bin/zembrat under Xvfb"
# -displayfd: the server picks a free display and writes its number to that descriptor.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" >"$tmp/xvfb.log" 2>&1 &
xserver=$!
for _ in $(seq 200); do
    grep -q '^[0-9]\+$' "$tmp/display" 2>/dev/null && break
    kill -0 "$xserver" 2>/dev/null || fail "Xvfb did not start: $(cat "$tmp/xvfb.log")"
    sleep 0.1
done
grep -q '^[0-9]\+$' "$tmp/display" || fail "Xvfb gave no display number within 20 s"
export DISPLAY=":$(cat "$tmp/display")"
config="$tmp/config"
mkdir -p "$tmp/home"
(cd "$tmp" && exec env -u QT_QPA_PLATFORM XDG_CONFIG_HOME="$config" HOME="$tmp/home" /usr/bin/zembrat) &
program=$!
window=""
for _ in $(seq 200); do
    kill -0 "$program" 2>/dev/null || fail "/usr/bin/zembrat ended before its window came up"
    window="$(xdotool search --onlyvisible --name '^Zembrat v' 2>/dev/null | head -n 1 || true)"
    [[ -n "$window" ]] && break
    sleep 0.1
done
[[ -n "$window" ]] || fail "no main window appeared within 20 s"
# Its first activation loads the settings; then close it as a window manager's close button does.
for _ in $(seq 100); do
    [[ "$(xdotool getwindowfocus 2>/dev/null || true)" == "$window" ]] && break
    sleep 0.1
done
sleep 0.5
python3 tools/close-window.py "$window" || fail "cannot ask the window to close"
status=0
for _ in $(seq 200); do
    kill -0 "$program" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$program" 2>/dev/null && fail "/usr/bin/zembrat did not end after the close request"
wait "$program" || status=$?
program=""
((status == 0)) || fail "/usr/bin/zembrat ended with status $status"
settings="$config/zembrat/Zembrat.ini"
[[ -f "$settings" ]] || fail "no settings in $config/zembrat/"
# "[基本配置]" in GBK heads the saved settings.
head -c 10 "$settings" | cmp -s - <(printf '[\xbb\xf9\xb1\xbe\xc5\xe4\xd6\xc3]') ||
    fail "$settings does not hold the saved settings"
[[ ! -e /usr/bin/Zembrat.ini ]] || fail "the installed program wrote /usr/bin/Zembrat.ini"
echo "settings saved in $settings"

echo "== apt-get remove zembrat"
remove_package
installed && fail "zembrat is still installed after apt-get remove"
[[ ! -e /usr/bin/zembrat ]] || fail "/usr/bin/zembrat is still there after the removal"
echo "package check passed"
