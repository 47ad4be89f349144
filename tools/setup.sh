#!/usr/bin/env bash
# One entry for newcomers and CI.
#   tools/setup.sh run    install what is missing, build, start Zembrat
#   tools/setup.sh test   install what is missing, build with warnings as errors, run all tests
#   tools/setup.sh deps   only install what is missing
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"
jobs="$(nproc 2>/dev/null || echo 2)"

install_deps() {
    local missing=()
    while read -r pkg; do
        [[ -z "$pkg" || "$pkg" == \#* ]] && continue
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done < tools/debian-packages.txt
    local sudo=""
    [[ "$(id -u)" -ne 0 ]] && sudo="sudo"
    # Debian's npm only where no npm command exists: nodesource's nodejs brings its own npm and
    # conflicts with Debian's npm package.
    command -v npm >/dev/null || missing+=(npm)
    if ((${#missing[@]})); then
        echo "Installing: ${missing[*]}"
        $sudo apt-get update
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
    fi
    # Node packages pinned by their lock files: the publish tests' loopback S3 server, and the
    # CommonMark 0.30 examples the reader oracle test runs cmark over.
    local dir
    for dir in tests/support/s3 tests/support/commonmark; do
        if [[ ! -d "$dir/node_modules" || "$dir/package-lock.json" -nt "$dir/node_modules" ]]; then
            (cd "$dir" && npm ci --no-audit --no-fund)
            touch "$dir/node_modules"
        fi
    done
}

case "${1:-}" in
    deps)
        install_deps
        ;;
    run)
        install_deps
        cmake --preset release
        cmake --build --preset release -j "$jobs"
        exec ./build/release/src/app/zembrat
        ;;
    test)
        install_deps
        cmake --preset dev
        cmake --build --preset dev -j "$jobs"
        # The cases labelled slow hold wall-clock bounds: run them after the rest, one at a time.
        ctest --preset dev -j "$jobs" -LE slow
        ctest --preset dev -j 1 -L slow --no-tests=ignore
        ;;
    *)
        echo "usage: $0 run|test|deps" >&2
        exit 2
        ;;
esac
