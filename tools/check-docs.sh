#!/usr/bin/env bash
# Fails when the README has drifted from the tree: its module line (and the architecture notes'
# floors) from the folders of src/, its list of presets from CMakePresets.json, its list of
# command-line options from what the program's --help prints.
#   tools/check-docs.sh [PROGRAM]     PROGRAM: the built zembrat (default build/dev's)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
program="${1:-build/dev/src/app/zembrat}"
help="$("$program" --help)"

HELP="$help" python3 - <<'EOF'
import json, os, re, sys

readme = open("README.md", encoding="utf-8").read()
architecture = open("docs/ARCHITECTURE.md", encoding="utf-8").read()
failures = []

def differ(what, documented, actual):
    if documented != actual:
        missing = sorted(actual - documented)
        extra = sorted(documented - actual)
        failures.append(f"{what}: missing {missing or 'nothing'}, not in the tree {extra or 'nothing'}")

# The modules: every folder of src/ with a CMakeLists.txt, in the README's module line and in the
# architecture notes' floors.
modules = {d for d in os.listdir("src") if os.path.isfile(os.path.join("src", d, "CMakeLists.txt"))}
line = re.search(r"Modules under `src/`, linked in one direction:\s*`([^`]*)`", readme)
if not line:
    failures.append("README: no line 'Modules under `src/`, linked in one direction: `...`'")
else:
    differ("README's module line", set(re.findall(r"[a-z_]+", line.group(1))), modules)
floors = re.search(r"## Floors\s*```\s*\n([^`]*)```", architecture)
if not floors:
    failures.append("docs/ARCHITECTURE.md: no floors block under '## Floors'")
else:
    differ("ARCHITECTURE.md's floors", set(re.findall(r"[a-z_]+", floors.group(1))), modules)

# The presets a developer can configure.
presets = {p["name"] for p in json.load(open("CMakePresets.json"))["configurePresets"]
           if not p.get("hidden")}
line = re.search(r"`cmake --preset ([a-z|]+)`", readme)
if not line:
    failures.append("README: no '`cmake --preset a|b|...`' line")
else:
    differ("README's presets", set(line.group(1).split("|")), presets)

# The options: each switch --help lists (its --no- forms aside) in the README's option list,
# and nothing else there.
switches = set(re.findall(r"^  (-?-[a-z][a-z-]*)", os.environ["HELP"], re.M))
switches |= set(re.findall(r"^  [^ ].*?, (--[a-z][a-z-]*)", os.environ["HELP"], re.M))
switches = {s for s in switches if not s.startswith("--no-") and s.startswith("--")}
block = re.search(r"<!-- options -->(.*?)<!-- /options -->", readme, re.S)
if not block:
    failures.append("README: no option list between <!-- options --> and <!-- /options -->")
else:
    listed = set(re.findall(r"`(--[a-z][a-z-]*)", block.group(1)))
    differ("README's option list", listed, switches)

for f in failures:
    print("docs drift:", f, file=sys.stderr)
sys.exit(1 if failures else 0)
EOF
echo "README, architecture notes, presets and options agree with the tree"
