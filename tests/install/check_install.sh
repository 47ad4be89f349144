#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what a desktop gets: the executable, the
# menu entry, the icons, the software-centre description and the help page; runs the
# validators on them; then starts the installed program offscreen, ends it with a termination
# request and checks that its settings went to the user's folder, while a copy outside any
# prefix keeps them beside itself.
#   check_install.sh <build folder> <source folder>
set -euo pipefail
build="$1"
source="$2"
id="io.github.zembrat.Zembrat"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

for tool in desktop-file-validate appstreamcli file identify convert compare; do
    command -v "$tool" >/dev/null || fail "$tool is missing (tools/setup.sh deps installs it)"
done

tmp="$(mktemp -d)"
running=""
cleanup() {
    if [[ -n "$running" ]] && kill -0 "$running" 2>/dev/null; then
        kill -KILL "$running" 2>/dev/null || true
        wait "$running" 2>/dev/null || true
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
prefix="$tmp/prefix"

echo "== cmake --install into $prefix"
cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" || {
    cat "$tmp/install.log" >&2
    fail "cmake --install failed"
}

echo "== installed files"
expect_file() {
    [[ -f "$prefix/$1" ]] || fail "missing: $1"
}
expect_file bin/zembrat
[[ -x "$prefix/bin/zembrat" ]] || fail "bin/zembrat is not executable"
file -b "$prefix/bin/zembrat" | grep -q '^ELF ' || fail "bin/zembrat is not an ELF program"
desktop="share/applications/$id.desktop"
metainfo="share/metainfo/$id.metainfo.xml"
expect_file "$desktop"
expect_file "$metainfo"
expect_file "share/icons/hicolor/scalable/apps/$id.svg"
for size in 16 22 24 32 48 64 128 256; do
    png="share/icons/hicolor/${size}x${size}/apps/$id.png"
    expect_file "$png"
    file -b "$prefix/$png" | grep -q "^PNG image data, $size x $size, 8-bit/color RGBA" ||
        fail "$png is not a $size x $size PNG with transparency: $(file -b "$prefix/$png")"
    # Drawn, not blank: more than one colour.
    colours="$(identify -format '%k' "$prefix/$png")"
    ((colours > 2)) || fail "$png has $colours colours"
done
svg="$prefix/share/icons/hicolor/scalable/apps/$id.svg"
identify -format '%w x %h' "$svg" | grep -q '^64 x 64$' || fail "the SVG icon does not render as 64 x 64"
# The scalable icon is the same picture as the drawn ones: rendered finely and brought down to
# 64 x 64, it stays close to the 64 x 64 PNG (a missing part of the picture shows as 0.06 or more).
convert -density 384 -background white "$svg" -flatten -resize 64x64 "$tmp/svg64.png"
convert "$prefix/share/icons/hicolor/64x64/apps/$id.png" -background white -flatten "$tmp/png64.png"
# compare exits 1 whenever the pictures are not identical; its figure is what counts.
difference="$( (compare -metric RMSE "$tmp/svg64.png" "$tmp/png64.png" null: 2>&1 || true) |
    sed -n 's/.*(\(.*\)).*/\1/p')"
[[ -n "$difference" ]] || fail "cannot compare the SVG icon with the PNG one"
awk -v d="$difference" 'BEGIN { exit !(d < 0.05) }' ||
    fail "the SVG icon and the 64 x 64 PNG differ (RMSE $difference)"
expect_file share/zembrat/zembrat-help.html
cmp -s "$prefix/share/zembrat/zembrat-help.html" "$source/docs/zembrat-help.html" ||
    fail "the installed help page differs from docs/zembrat-help.html"
expect_file share/man/man1/zembrat.1
cmp -s "$prefix/share/man/man1/zembrat.1" "$source/docs/zembrat.1" ||
    fail "the installed manual page differs from docs/zembrat.1"
# The page formats without a warning from groff.
man_warnings="$(MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/zembrat.1" 2>&1 >/dev/null)"
[[ -z "$man_warnings" ]] || fail "man -l warns about the manual page: $man_warnings"
# Nothing of the test suite, the benchmarks or the icon tool is installed.
unexpected="$(cd "$prefix" && find . -type f | sed 's|^\./||' |
    grep -v -E "^(bin/zembrat|share/applications/$id\.desktop|share/metainfo/$id\.metainfo\.xml|share/icons/hicolor/[^/]+/apps/$id\.(png|svg)|share/zembrat/zembrat-help\.html|share/man/man1/zembrat\.1)$" || true)"
[[ -z "$unexpected" ]] || fail "unexpected files installed: $unexpected"

echo "== desktop-file-validate"
desktop-file-validate "$prefix/$desktop" || fail "desktop-file-validate"
entry() { sed -n "s/^$1=//p" "$prefix/$desktop"; }
[[ "$(entry Exec)" == zembrat ]] || fail "Exec is not the installed program"
[[ "$(entry Icon)" == "$id" ]] || fail "Icon does not name the installed icon"
[[ -n "$(entry 'Name\[zh_CN\]')" && "$(entry 'Name\[zh_CN\]')" != "$(entry Name)" ]] ||
    fail "no Chinese name"
entry Categories | grep -q -E '(^|;)Network;' || fail "not in the Network category"

echo "== appstreamcli validate"
appstreamcli validate --no-net "$prefix/$metainfo" || fail "appstreamcli validate"
appstreamcli validate-tree --no-net "$prefix" || fail "appstreamcli validate-tree"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$prefix/$metainfo" ||
    fail "the metainfo does not launch the installed desktop entry"
grep -q '<screenshot type="default">' "$prefix/$metainfo" || fail "no default screenshot"

# Starts a program offscreen with its own config home, waits until it holds its settings file,
# ends it with SIGTERM as a session would and checks it ended normally.
#   run_and_end <program> <config home> <expected settings file>
run_and_end() {
    local program="$1" config="$2" settings="$3"
    mkdir -p "$tmp/home"
    printf 'leak:libdbus-1.so\n' >"$tmp/leaks-not-ours.supp"
    (cd "$tmp" && exec env QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$config" HOME="$tmp/home" \
        LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$tmp/leaks-not-ours.supp" \
        "$program") &
    running=$!
    local waited=0
    until [[ -e "$settings" ]]; do
        kill -0 "$running" 2>/dev/null || fail "$program ended before it opened $settings"
        ((waited++ < 200)) || fail "$program did not open $settings within 20 s"
        sleep 0.1
    done
    # Give the window its activation, which loads the settings into it.
    sleep 2
    kill -0 "$running" 2>/dev/null || fail "$program did not keep running"
    kill -TERM "$running"
    local status=0
    wait "$running" || status=$?
    running=""
    ((status == 0)) || fail "$program ended with status $status after SIGTERM"
    # "[基本配置]" in GBK: the settings were saved on the way out.
    head -c 10 "$settings" | cmp -s - <(printf '[\xbb\xf9\xb1\xbe\xc5\xe4\xd6\xc3]') ||
        fail "$settings does not hold the saved settings"
}

echo "== the installed program keeps its settings in XDG_CONFIG_HOME"
run_and_end "$prefix/bin/zembrat" "$tmp/config" "$tmp/config/zembrat/Zembrat.ini"
[[ ! -e "$prefix/bin/Zembrat.ini" ]] || fail "the installed program wrote Zembrat.ini into bin"

echo "== a copy outside any prefix keeps them beside itself"
mkdir -p "$tmp/portable"
cp "$prefix/bin/zembrat" "$tmp/portable/zembrat"
run_and_end "$tmp/portable/zembrat" "$tmp/config2" "$tmp/portable/Zembrat.ini"
[[ ! -e "$tmp/config2/zembrat" ]] || fail "the copy outside a prefix used XDG_CONFIG_HOME"

echo "install check passed"
