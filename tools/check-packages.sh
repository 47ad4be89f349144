#!/usr/bin/env bash
# Checks that every external program and ImageMagick coder that the tests, the tools and CI use
# comes from a package that tools/debian-packages.txt lists (or that one of those depends on,
# or that every Debian system has), so a machine set up from that list alone runs them all.
# Run after `tools/setup.sh deps`. Exits non-zero and names what is missing.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"

# Programs started by name from the test sources, plus those the scripts need that the scan
# below could miss (started through a variable or from another program).
programs=(Xvfb xauth xdotool xwd convert identify compare import desktop-file-validate appstreamcli
    dpkg-deb dpkg-shlibdeps python3 file clang-format clang clang++ g++ cmake ctest cpack ninja
    pkg-config openssl man rsvg-convert sshd ssh-keygen vsftpd node npm rclone nginx cmark cwebp
    avifenc)
# Formats ImageMagick reads or writes for the tests and tools.
coders=(SVG PNG PNG8 XWD X)

status=0
missing() {
    echo "MISSING: $*" >&2
    status=1
}

# The listed packages and everything they depend on (Depends and Pre-Depends, as installed).
listed="$(grep -v -E '^[[:space:]]*(#|$)' tools/debian-packages.txt)"
# Debian's npm, which tools/setup.sh installs only where no npm command exists, counts as listed.
if dpkg-query -W -f='${db:Status-Status}' npm 2>/dev/null | grep -q '^installed$'; then
    listed+=$'\nnpm'
fi
installed="$(dpkg-query -W -f='${db:Status-Status}\t${Package}\t${Provides}\t${Depends},${Pre-Depends}\t${Essential}\t${Priority}\n' |
    awk -F '\t' '$1 == "installed"')"
for pkg in $listed; do
    grep -q -P "^installed\t\Q$pkg\E\t" <<<"$installed" ||
        missing "listed package $pkg is not installed (run tools/setup.sh deps)"
done
declare -A closure=()
for pkg in $(awk -F '\t' -v listed="$listed" '
    function names(text, out,    n, i, parts, word) {
        n = split(text, parts, /[,|]/)
        for (i = 1; i <= n; i++) {
            word = parts[i]; sub(/^[ \t]+/, "", word); sub(/[ :(].*/, "", word)
            if (word != "") out[word] = 1
        }
    }
    {
        provider[$2] = provider[$2] " " $2
        delete p; names($3, p); for (v in p) provider[v] = provider[v] " " $2
        deps[$2] = $4
    }
    END {
        n = split(listed, queue, /[ \n]+/)
        while (n > 0) {
            name = queue[n--]
            m = split(provider[name], pkgs, " ")
            for (i = 1; i <= m; i++) {
                pkg = pkgs[i]
                if (pkg in seen) continue
                seen[pkg] = 1; print pkg
                delete d; names(deps[pkg], d); for (w in d) if (!(w in seen)) queue[++n] = w
            }
        }
    }' <<<"$installed"); do
    closure[$pkg]=1
done

# What every Debian system has: the essential packages and those of priority "required".
declare -A base=()
for pkg in $(awk -F '\t' '$5 == "yes" || $6 == "required" { print $2 }' <<<"$installed"); do
    base[$pkg]=1
done
# Files to look up, by what they are; dpkg -S reads its whole database each time, so all are
# looked up at once at the end. Links (alternatives) are followed to the real file.
declare -A files=()
check_file() { files[$1]="$(readlink -f "$2")"; }
declare -A checked=()
check_program() {
    local program="$1" required="$2" path
    [[ -n "${checked[$program]:-}" ]] && return
    checked[$program]=1
    # Debian's own folders only: a copy in /usr/local or elsewhere is not what a fresh machine has.
    if ! path="$(PATH=/usr/sbin:/usr/bin:/sbin:/bin command -v "$program" 2>/dev/null)" ||
        [[ "$path" != /* ]]; then
        [[ "$required" == required ]] && missing "program $program is not installed"
        return 0
    fi
    check_file "program $program" "$path"
}

for program in "${programs[@]}"; do
    check_program "$program" required
done
# Every word in a command's place in the scripts that names an installed program: those that
# name none are the scripts' own functions.
scripts=(.ci/run tools/*.sh tools/*.py tests/*/*.sh bench/*.sh)
words="$(for script in "${scripts[@]}"; do
    [[ -f "$script" ]] && grep -v -E '^\s*#' "$script" || true
done | grep -o -E '(^|[|;&({]|\$\(|\bthen|\bdo|\bexec|\belse)[[:space:]]*[A-Za-z][A-Za-z0-9._+-]*' |
    grep -o -E '[A-Za-z][A-Za-z0-9._+-]*$' | sort -u || true)"
for word in $words; do
    case "$(type -t "$word" 2>/dev/null || true)" in
        keyword | builtin) continue ;;
    esac
    check_program "$word" optional
done

# ImageMagick's coders: listed by convert, and their modules from a listed package.
if [[ -x /usr/bin/convert ]]; then
    formats="$(/usr/bin/convert -list format 2>/dev/null)"
    modules="$(dirname "$(dpkg -L libmagickcore-6.q16-6 2>/dev/null | grep '/coders/png\.so$' | head -n 1)")"
    for coder in "${coders[@]}"; do
        module="$(awk -v c="$coder" '{ f = $1; sub(/\*$/, "", f) } f == c { print tolower($2); exit }' <<<"$formats")"
        if [[ -z "$module" ]]; then
            missing "ImageMagick cannot handle $coder (convert -list format)"
        elif [[ -f "$modules/$module.so" ]]; then
            check_file "ImageMagick coder $coder" "$modules/$module.so"
        fi
    done
fi

# /bin and /usr/bin are one folder, but dpkg may know a file under either name.
if ((${#files[@]})); then
    declare -A owner=()
    paths=()
    for path in "${files[@]}"; do
        paths+=("$path" "${path#/usr}" "/usr$path")
    done
    while IFS= read -r line; do
        path="${line##*: }"
        pkg="${line%%: *}"
        pkg="${pkg%%,*}"
        owner[$path]="${pkg%%:*}"
    done < <(dpkg -S "${paths[@]}" 2>/dev/null || true)
    for what in "${!files[@]}"; do
        path="${files[$what]}"
        pkg="${owner[$path]:-${owner[${path#/usr}]:-${owner[/usr$path]:-}}}"
        if [[ -z "$pkg" ]]; then
            missing "$what ($path) belongs to no Debian package"
        elif [[ -z "${closure[$pkg]:-}${base[$pkg]:-}" ]]; then
            missing "$what comes from $pkg, which tools/debian-packages.txt does not list"
        fi
    done
fi

((status == 0)) && echo "every program and coder the tests and tools use comes from a listed package"
exit "$status"
