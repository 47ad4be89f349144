#!/usr/bin/env bash
# Kills headless runs at random moments and checks that what they leave is whole.
#
#   tools/kill-runs.sh [--kills N] [--articles N] [--seed N] [ZEMBRAT]
#
# ZEMBRAT is the built program (default build/dev/src/app/zembrat); nothing is built here. A
# python3 server on 127.0.0.1 serves images of 1 to 5 MB slowly; `zembrat --run` goes over a
# folder of generated articles and is killed with SIGKILL N times (default 30), at random moments
# and right when a new file name shows, each time a fresh start that finds what the runs before
# it left. After every kill each image in the result folder must be whole (its name is the
# upper-case hex CRC-32 of its bytes, maybe followed by _N) and each written article whole. A
# last run is let finish: every article must be written with all its images re-hosted, every
# image it points at stored, and no temporary file left. Prints its figures; exits non-zero on
# any broken file.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

kills=30
articles=6
seed="${RANDOM}"
program=build/dev/src/app/zembrat
while [ $# -gt 0 ]; do
    case "$1" in
        --kills) kills="$2"; shift 2 ;;
        --articles) articles="$2"; shift 2 ;;
        --seed) seed="$2"; shift 2 ;;
        -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
        -*) echo "kill-runs: unknown option $1" >&2; exit 2 ;;
        *) program="$1"; shift ;;
    esac
done
if [ ! -x "$program" ]; then
    echo "kill-runs: no program at $program (build it first)" >&2
    exit 2
fi
program="$(cd "$(dirname "$program")" && pwd)/$(basename "$program")"

work="$(mktemp -d "${TMPDIR:-/tmp}/zembrat-kill-runs-XXXXXX")"
server_pid=""
cleanup() {
    if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

# The image server: /img/<n>.png answers 1 to 5 MB of bytes fixed by n, in 64 KB pieces with a
# pause after each, so that a run spends its time in the middle of downloads and writes.
cat > "$work/server.py" <<'EOF'
import http.server, random, sys, time

cache = {}

def image(n):
    if n not in cache:
        r = random.Random(n)
        cache[n] = b"\x89PNG\r\n\x1a\n" + r.randbytes(r.randint(1, 5) * 1024 * 1024 - 8)
    return cache[n]

class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def log_message(self, *args):
        pass
    def do_GET(self):
        try:
            n = int(self.path.removeprefix("/img/").removesuffix(".png"))
        except ValueError:
            self.send_error(404)
            return
        body = image(n)
        self.send_response(200)
        self.send_header("Content-Type", "image/png")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            for at in range(0, len(body), 65536):
                self.wfile.write(body[at:at + 65536])
                time.sleep(0.002)
        except (BrokenPipeError, ConnectionResetError):
            pass

class Server(http.server.ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        pass  # a killed run drops its connection mid-request

server = Server(("127.0.0.1", 0), Handler)
server.daemon_threads = True
with open(sys.argv[1], "w") as f:
    f.write(str(server.server_address[1]))
server.serve_forever()
EOF

python3 "$work/server.py" "$work/port.tmp" &
server_pid=$!
for _ in $(seq 100); do
    [ -s "$work/port.tmp" ] && break
    sleep 0.05
done
port="$(cat "$work/port.tmp" 2>/dev/null || true)"
if [ -z "$port" ]; then
    echo "kill-runs: the image server did not start" >&2
    exit 2
fi

# The articles (each ends with a mark, so that a cut article shows) and the settings, in the
# settings file's own layout and text encoding.
python3 - "$work" "$port" "$articles" "$seed" <<'EOF'
import os, random, sys
work, port, count, seed = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
r = random.Random(seed)
os.makedirs(f"{work}/articles")
for a in range(count):
    images = r.sample(range(12), 3)
    tags = "".join(f'<p>{i}</p><img src="http://127.0.0.1:{port}/img/{n}.png">\n'
                   for i, n in enumerate(images))
    with open(f"{work}/articles/a{a}.htm", "wb") as f:
        f.write(("<html><body>\n" + tags + "<!-- end of article -->\n").encode())
settings = "[基本配置]\r\n图片存放目录=img\r\n文章过滤=*.htm"
with open(f"{work}/Zembrat.ini", "wb") as f:
    f.write(settings.encode("gbk"))
EOF

# Checks the result folder; prints "files broken leftovers variants".
#   check <after a completed run: 0 or 1>
check() {
    python3 - "$work" "$1" <<'EOF'
import os, re, sys, zlib
work, complete = sys.argv[1], sys.argv[2] == "1"
result = os.path.join(work, "articles", "转存结果")
temporary = re.compile(r"^\.zembrat-\d+-\d+\.tmp$")
files = broken = leftovers = variants = 0
problems = []
for folder, _, names in os.walk(result):
    for name in names:
        path = os.path.join(folder, name)
        if temporary.match(name):
            leftovers += 1
            if complete:
                problems.append(f"temporary file left: {path}")
            continue
        files += 1
        with open(path, "rb") as f:
            data = f.read()
        if folder.endswith("/img"):
            stem = name.rsplit(".", 1)[0]
            crc = format(zlib.crc32(data), "X")
            if re.fullmatch(crc + r"(_\d+)?", stem) is None:
                broken += 1
                problems.append(f"broken image: {path} ({len(data)} bytes, CRC-32 {crc})")
            elif stem != crc:
                variants += 1
        elif name.endswith(".htm") and not data.endswith(b"<!-- end of article -->\n"):
            broken += 1
            problems.append(f"cut article: {path}")
if complete:
    for a in sorted(os.listdir(os.path.join(work, "articles"))):
        if not a.endswith(".htm"):
            continue
        path = os.path.join(result, a)
        if not os.path.exists(path):
            broken += 1
            problems.append(f"article not written: {a}")
            continue
        text = open(path, "rb").read().decode()
        if "127.0.0.1" in text:
            broken += 1
            problems.append(f"article keeps an image address: {a}")
        for src in re.findall(r'src="([^"]+)"', text):
            target = os.path.join(result, src.lstrip("/"))
            if not os.path.isfile(target):
                broken += 1
                problems.append(f"{a} points at a missing image: {src}")
for p in problems:
    print(p, file=sys.stderr)
print(files, broken, leftovers, variants)
EOF
}

# Kills the run at once when a new name shows in the result folder or its image folder (the moment
# a file made in place is still cut), or after the given seconds.
cat > "$work/watch.py" <<'EOF'
import os, re, signal, sys, time
result, limit, pid = sys.argv[1], float(sys.argv[2]), int(sys.argv[3])
temporary = re.compile(r"^\.zembrat-\d+-\d+\.tmp$")
def names():
    found = set()
    for folder in (result, os.path.join(result, "img")):
        try:
            found |= {os.path.join(folder, n) for n in os.listdir(folder) if not temporary.match(n)}
        except FileNotFoundError:
            pass
    return found
before = names()
end = time.monotonic() + limit
while time.monotonic() < end:
    if names() - before:
        break
    time.sleep(0.0002)
try:
    os.kill(pid, signal.SIGKILL)
except ProcessLookupError:
    pass
EOF

# exec: in the background the process killed is the program itself, not a shell around it.
run() {
    exec "$program" --run "$work/articles" --settings "$work/Zembrat.ini" --quiet </dev/null >/dev/null 2>&1
}

total_files=0
total_broken=0
total_leftovers=0
RANDOM="$seed"
for k in $(seq "$kills"); do
    run &
    pid=$!
    if [ $((k % 2)) -eq 0 ]; then
        # A moment from 0.05 to 2 s into the run.
        sleep "$(printf '%d.%03d' $((RANDOM % 2)) $((50 + RANDOM % 950)))"
    else
        # Right when a new name shows, after a first wait of up to a second.
        sleep "0.$((RANDOM % 1000))"
        python3 "$work/watch.py" "$work/articles/转存结果" 3 "$pid"
    fi
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    read -r files broken leftovers _ < <(check 0)
    total_files=$((total_files + files))
    total_broken=$((total_broken + broken))
    total_leftovers=$((total_leftovers + leftovers))
done

status=0
(run) || status=$?
read -r files broken leftovers variants < <(check 1)
total_files=$((total_files + files))
total_broken=$((total_broken + broken))

echo "kill-runs: seed $seed, $kills kills, $total_files files checked after them and the last run,"
echo "kill-runs: $total_leftovers temporary files seen after kills, $leftovers after the last run,"
echo "kill-runs: $variants images stored under a _N name, $total_broken broken, last run exit $status"
if [ "$total_broken" -ne 0 ] || [ "$leftovers" -ne 0 ] || [ "$status" -ne 0 ]; then
    echo "kill-runs: FAILED" >&2
    exit 1
fi
echo "kill-runs: passed"
