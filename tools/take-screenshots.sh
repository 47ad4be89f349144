#!/usr/bin/env bash
# Takes the README's screenshots under an X server of its own: the main window during a run
# against a slow image server on 127.0.0.1 (rows saved, failed, downloading and queued), at its
# designed size and at 1600x1000 with the run's results opened during the run; a run with
# failures from one click (its completion message and its results), the retry from the results
# dialog; the help dialog, the extension options dialog and the publish dialog. Writes
# docs/screenshots/main-window.png, main-window-1600x1000.png, results-during-run.png,
# completion-message.png, results-dialog.png, retry-message.png, results-after-retry.png,
# help-dialog.png, extension-dialog.png, publish-dialog.png and publish-dialog-1600x1000.png.
#   tools/take-screenshots.sh [program]     (default: build/release/src/app/zembrat)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
program="${1:-$here/build/release/src/app/zembrat}"
[[ -x "$program" ]] || { echo "no program at $program: build it first (cmake --preset release)" >&2; exit 1; }
out="$here/docs/screenshots"
mkdir -p "$out"

tmp="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT

# A copy outside any prefix keeps its settings beside itself, so the run's settings go there.
mkdir -p "$tmp/zembrat" "$tmp/home"
cp "$program" "$tmp/zembrat/zembrat"

# The image server: /slow/ answers after a minute, /gone/ with 404, /flaky/ with 404 to the
# first two requests of a path (a run's download and its retry) and the image afterwards, the
# rest at once.
cat >"$tmp/server.py" <<'PY'
import collections, http.server, sys, time
asked = collections.Counter()
class Images(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        asked[self.path] += 1
        if self.path.startswith("/gone/") or (self.path.startswith("/flaky/") and asked[self.path] <= 2):
            self.send_error(404)
            return
        if self.path.startswith("/slow/"):
            time.sleep(60)
        body = b"\x89PNG\r\n\x1a\n" + self.path.encode() * 40
        self.send_response(200)
        self.send_header("Content-Type", "image/png")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Images)
print(server.server_address[1], flush=True)
server.serve_forever()
PY
python3 "$tmp/server.py" >"$tmp/port" &
pids+=($!)
for _ in $(seq 50); do [[ -s "$tmp/port" ]] && break; sleep 0.1; done
port="$(head -n 1 "$tmp/port")"
site="http://127.0.0.1:$port"

# Three articles and the settings, in GBK as the program reads them.
articles="$tmp/文章目录"
ARTICLES="$articles" SITE="$site" SETTINGS="$tmp/zembrat/Zembrat.ini" python3 - <<'PY'
import os
folder, site = os.environ["ARTICLES"], os.environ["SITE"]
os.makedirs(folder, exist_ok=True)
def article(name, title, images):
    tags = "\n".join(f'<p><img src="{site}/{path}"></p>' for path in images)
    text = f"<html><head><title>{title}</title></head><body><h1>{title}</h1>\n{tags}\n</body></html>\n"
    with open(os.path.join(folder, name), "wb") as f:
        f.write(text.encode("gbk"))
article("2026-03-01.htm", "春天的花园", ["photos/garden-1.jpg", "photos/garden-2.jpg"])
article("2026-03-02.htm", "城市夜景",
        ["photos/night-1.jpg", "photos/night-2.jpg", "gone/night-3.jpg", "slow/night-4.jpg",
         "photos/night-5.jpg", "photos/night-6.jpg"])
article("2026-03-03.htm", "海边小镇", ["photos/sea-1.jpg"])
# A second folder for the run with failures that ends at once.
failing = folder + "-失败"
os.makedirs(failing, exist_ok=True)
def failing_article(name, title, images):
    tags = "\n".join(f'<p><img src="{path if path.startswith("/") else site + "/" + path}"></p>' for path in images)
    with open(os.path.join(failing, name), "wb") as f:
        f.write(f"<html><head><title>{title}</title></head><body>\n{tags}\n</body></html>\n".encode("gbk"))
failing_article("2026-04-01.htm", "山间小路", ["photos/hill-1.jpg", "flaky/hill-2.jpg", "gone/hill-3.jpg"])
failing_article("2026-04-02.htm", "老街", ["photos/street-1.jpg", "/local/street-2.jpg", "flaky/street-3.jpg"])
settings = ("[基本配置]\r\n排除地址范围=\r\n新的域名前缀=www.my-site.example\r\n旧的域名前缀=\r\n"
            "图片存放目录=files/img\r\n文章过滤=*.htm\r\n文章目录=" + folder)
# Two publish targets for the publish dialog: an S3-compatible store and an SFTP host.
settings += ("\r\n[发布目标]\r\n目标1=s3://my-images/site/?endpoint=https://s3.example.com"
             "&region=cn-east-1&style=path&keyid=AKEXAMPLE&public=https://img.my-site.example"
             "&name=图床\r\n目标2=sftp://deploy@my-site.example/var/www/site/?name=网站主机")
with open(os.environ["SETTINGS"], "wb") as f:
    f.write(settings.encode("gbk"))
PY

Xvfb -displayfd 3 -screen 0 1920x1200x24 -nolisten tcp 3>"$tmp/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '^[0-9]\+$' "$tmp/display" 2>/dev/null && break; sleep 0.1; done
export DISPLAY=":$(cat "$tmp/display")"

# Starts the copy and sets `window` to its main window once that has the focus, and `running`
# to the program's process.
start_program() {
    (cd "$tmp" && exec env -u QT_QPA_PLATFORM HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/config" \
        "$tmp/zembrat/zembrat") >/dev/null 2>&1 &
    running=$!
    pids+=("$running")
    window=""
    for _ in $(seq 100); do
        window="$(xdotool search --onlyvisible --name '^Zembrat v' 2>/dev/null | head -n 1 || true)"
        [[ -n "$window" ]] && break
        sleep 0.1
    done
    [[ -n "$window" ]] || { echo "no main window" >&2; exit 1; }
    for _ in $(seq 50); do
        [[ "$(xdotool getwindowfocus 2>/dev/null || true)" == "$window" ]] && break
        sleep 0.1
    done
    sleep 0.5
}

shrink() {
    # Small PNGs for the repository: a palette of 256 colours, no metadata.
    convert "$1" -strip -colors 256 PNG8:"$2"
}

# The main window: the start button runs the three articles; the second one is caught at its
# slow image.
start_program
xdotool mousemove --window "$window" 356 412 click 1
sleep 3
import -window "$window" "$tmp/main.png"
shrink "$tmp/main.png" "$out/main-window.png"
# It is waiting for the slow image; its settings need no saving.
kill -KILL "$running"
sleep 0.5

# Waits for a visible window whose name matches and sets `found` to it.
find_window() {
    found=""
    for _ in $(seq 100); do
        found="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -n 1 || true)"
        [[ -n "$found" ]] && break
        sleep 0.1
    done
    [[ -n "$found" ]] || { echo "no window named $1" >&2; exit 1; }
    sleep 0.5
}
# The message box of the run, titled "信息：".
find_message() { find_window '^信息：$'; }

# Larger: the same run at 1600x1000, and its results opened while it waits for the slow image.
start_program
xdotool windowsize "$window" 1600 1000
sleep 0.5
xdotool mousemove --window "$window" 800 798 click 1
sleep 3
import -window "$window" "$tmp/big.png"
shrink "$tmp/big.png" "$out/main-window-1600x1000.png"
xdotool mousemove --window "$window" $((634 + 1600 - 710 + 37)) 44 click 1
find_window '^运行结果$'
import -window "$found" "$tmp/during.png"
shrink "$tmp/during.png" "$out/results-during-run.png"
kill -KILL "$running"
sleep 0.5

# One click on a folder whose run has failures, and nothing else: the completion message.
cp "$tmp/zembrat/Zembrat.ini" "$tmp/Zembrat.ini.first"
SETTINGS="$tmp/zembrat/Zembrat.ini" python3 - <<'PY'
import os
path = os.environ["SETTINGS"]
text = open(path, "rb").read().decode("gbk")
lines = [l + "-失败" if l.startswith("文章目录=") else l for l in text.split("\r\n")]
open(path, "wb").write("\r\n".join(lines).encode("gbk"))
PY
start_program
xdotool mousemove --window "$window" 356 412 click 1
find_message
import -window "$found" "$tmp/done.png"
shrink "$tmp/done.png" "$out/completion-message.png"
xdotool key Escape  # 否: the folder stays closed
sleep 0.5
# The run's results, and the retry of its failed images from there.
xdotool mousemove --window "$window" 671 44 click 1
find_window '^运行结果$'
results="$found"
import -window "$results" "$tmp/results.png"
shrink "$tmp/results.png" "$out/results-dialog.png"
height="$(xdotool getwindowgeometry "$results" | sed -n 's/.*Geometry: [0-9]*x\([0-9]*\).*/\1/p')"
xdotool mousemove --window "$results" 70 $((height - 24)) click 1
find_message
import -window "$found" "$tmp/retried.png"
shrink "$tmp/retried.png" "$out/retry-message.png"
xdotool key Escape
sleep 1.5
import -window "$results" "$tmp/after.png"
shrink "$tmp/after.png" "$out/results-after-retry.png"
kill -KILL "$running"
sleep 0.5
cp "$tmp/Zembrat.ini.first" "$tmp/zembrat/Zembrat.ini"

# The help dialog, opened from the banner's help link.
start_program
xdotool mousemove --window "$window" 128 76 click 1
dialog=""
for _ in $(seq 50); do
    dialog="$(xdotool search --onlyvisible --name '.' 2>/dev/null | grep -v -x "$window" | while read -r w; do
        [[ "$(xdotool getwindowname "$w" 2>/dev/null)" != Zembrat* ]] && echo "$w"; done | tail -n 1 || true)"
    [[ -n "$dialog" ]] && break
    sleep 0.1
done
[[ -n "$dialog" ]] || { echo "no help dialog" >&2; exit 1; }
sleep 0.5
import -window "$dialog" "$tmp/help.png"
shrink "$tmp/help.png" "$out/help-dialog.png"
kill -KILL "$running"
sleep 0.5

# The extension options dialog, opened from the banner's sixth entry, with a few options set.
SETTINGS="$tmp/zembrat/Zembrat.ini" python3 - <<'PY'
import os
with open(os.environ["SETTINGS"], "ab") as f:
    f.write("\r\n[扩展选项]\r\n转存https图片=1\r\n识别延迟加载和响应式图片=1\r\n下载超时=30\r\n同时下载数=4".encode("gbk"))
PY
start_program
xdotool mousemove --window "$window" 448 32 click 1
options=""
for _ in $(seq 50); do
    options="$(xdotool search --onlyvisible --name '^扩展选项$' 2>/dev/null | tail -n 1 || true)"
    [[ -n "$options" ]] && break
    sleep 0.1
done
[[ -n "$options" ]] || { echo "no extension options dialog" >&2; exit 1; }
sleep 0.5
import -window "$options" "$tmp/options.png"
shrink "$tmp/options.png" "$out/extension-dialog.png"

# The publish dialog, from the options dialog's first button at its bottom left.
height="$(xdotool getwindowgeometry "$options" | sed -n 's/.*Geometry: [0-9]*x\([0-9]*\).*/\1/p')"
xdotool mousemove --window "$options" 70 $((height - 22)) click 1
publish=""
for _ in $(seq 50); do
    publish="$(xdotool search --onlyvisible --name '^发布到网站$' 2>/dev/null | tail -n 1 || true)"
    [[ -n "$publish" ]] && break
    sleep 0.1
done
[[ -n "$publish" ]] || { echo "no publish dialog" >&2; exit 1; }
sleep 0.5
import -window "$publish" "$tmp/publish.png"
shrink "$tmp/publish.png" "$out/publish-dialog.png"
# The same dialog larger: the list of targets and the form take the room.
xdotool windowsize "$publish" 1600 1000
sleep 0.8
import -window "$publish" "$tmp/publish-big.png"
shrink "$tmp/publish-big.png" "$out/publish-dialog-1600x1000.png"
ls -l "$out"
