#!/usr/bin/env bash
# The Debian packages as a packager and a technician meet them, from the folder that
# scripts/package fills: lintian finds nothing (an override carries its reason in the
# package); no package has maintainer scripts; the packages install; the installed program
# answers, reaches its window on the installed simulator and reports a missing provider
# library; the installed checker passes the installed simulator; every manual page passes
# manual_test.sh (80 columns, no warning, paths whole); the documentation and the
# debug information are where they belong. Then the packages are removed and purged:
# nothing of them may be left, and the operator's own settings and record stay.
#
# It installs into the running system, so it needs root (through sudo when not root) and
# refuses to run while any of the packages is installed already.
# Usage: tests/package/package_test.sh [folder of the .deb files, default build/package]
set -euo pipefail
dir=$(realpath "${1:-build/package}")
packages=(fleetwright fleetwright-provider-dev fleetwright-dbgsym)
simulator=/usr/lib/fleetwright/libfleetwright-simulator.so

fail() { echo "FAIL: $*" >&2; exit 1; }
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
status_of() { dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null || true; }

debs=()
for package in "${packages[@]}"; do
    found=("$dir/${package}"_*.deb)
    [ "${#found[@]}" -eq 1 ] && [ -f "${found[0]}" ] ||
        fail "expected one ${package}_*.deb in $dir, found: ${found[*]}"
    debs+=("${found[0]}")
    case "$(status_of "$package")" in
    "" | un*) ;;
    *) fail "$package is installed on this system already; remove it before the test" ;;
    esac
done
version=$(dpkg-deb -f "${debs[0]}" Version)

scratch=$(mktemp -d)
installed=0
cleanup() {
    if ((installed)); then
        as_root env DEBIAN_FRONTEND=noninteractive dpkg --purge "${packages[@]}" >/dev/null 2>&1 || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

# --- the package files ---------------------------------------------------------------

status=0
report=$(lintian --fail-on error,warning "${debs[@]}" 2>&1) || status=$?
report=$(grep -v 'running with root privileges is not recommended' <<<"$report" || true)
[ "$status" -eq 0 ] && [ -z "$report" ] || fail "lintian ($status): $report"

for deb in "${debs[@]}"; do
    scripts=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -Ev '^\./(control|md5sums)?$' || true)
    [ -z "$scripts" ] || fail "$(basename "$deb") has maintainer scripts or other control files: $scripts"
done
depends=$(dpkg-deb -f "${debs[0]}" Depends)
for needed in fonts-liberation libqt6widgets6; do
    [[ "$depends" == *"$needed"* ]] || fail "fleetwright's Depends lacks $needed: $depends"
done
[[ "$(dpkg-deb -f "${debs[1]}" Depends)" == *pkgconf* ]] ||
    fail "fleetwright-provider-dev does not depend on pkg-config, which its kit needs"
[ "$(dpkg-deb -f "${debs[2]}" Depends)" == "fleetwright (= $version)" ] ||
    fail "fleetwright-dbgsym does not depend on this very fleetwright"
description=$(dpkg-deb -f "${debs[0]}" Description)
(($(wc -l <<<"$description") > 5)) || fail "fleetwright's description is too short: $description"

# Extracted copies of the packages' documentation, to read whatever the system's dpkg installs.
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$scratch/root"; done

# --- installed --------------------------------------------------------------------------

snapshot() {
    find /usr /etc /opt /var/lib -xdev \( -path /var/lib/dpkg -o -path /var/lib/apt \
        -o -path /var/lib/ucf -o -path /var/lib/man-db \) -prune -o -print 2>/dev/null |
        grep -Ev '/(mimeinfo\.cache|icon-theme\.cache)$' | sort
}
snapshot >"$scratch/before"

installed=1
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    -o DPkg::Lock::Timeout=120 "${debs[@]}" >"$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log" >&2; fail "the packages do not install"; }
for package in "${packages[@]}"; do
    [ "$(status_of "$package")" == "ii " ] || fail "$package is not installed: $(status_of "$package")"
    dpkg -L "$package" >>"$scratch/files"
done

[ "$(command -v fleetwright)" == /usr/bin/fleetwright ] || fail "fleetwright is not on the PATH"
printed=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM FLEETWRIGHT_PROVIDER=/nonexistent \
    fleetwright --version) || fail "--version failed"
[ "$printed" == "fleetwright $version" ] || fail "--version printed: $printed"

# The operator's own files, in a home of the test's own.
home="$scratch/home"
settings="$home/.config/fleetwright/fleetwright.conf"
record="$home/.local/state/fleetwright/updates.csv"
mkdir -p "$(dirname "$record")"
echo "time,module_id" >"$record"
# run_installed COMMAND...: in the test's home, offscreen, closing as soon as the window shows.
run_installed() {
    env -u FLEETWRIGHT_PROVIDER -u XDG_CONFIG_HOME -u XDG_STATE_HOME HOME="$home" \
        QT_QPA_PLATFORM=offscreen FLEETWRIGHT_EXIT_AFTER_SHOW=1 FLEETWRIGHT_SIM_WAKE_MS=0 \
        FLEETWRIGHT_SIM_LOCK="$scratch/simulator.lock" timeout 60 "$@"
}
output=$(run_installed env FLEETWRIGHT_PROVIDER="$simulator" fleetwright) ||
    fail "exit status $? with the simulator"
[[ "$output" == shown* ]] || fail "window not shown on the installed simulator: $output"
[ -f "$settings" ] || fail "closing did not write the settings"

# The desktop entry's second action starts the program on the installed simulator.
desktop=/usr/share/applications/org.fleetwright.Fleetwright.desktop
desktop-file-validate "$desktop" || fail "the desktop entry does not validate"
read -ra action <<<"$(sed -n '/^\[Desktop Action simulator\]/,/^\[/s/^Exec=//p' "$desktop")"
((${#action[@]})) || fail "the desktop entry has no simulator action"
output=$(run_installed "${action[@]}") || fail "exit status $? from the simulator action: ${action[*]}"
[[ "$output" == shown* ]] || fail "the simulator action shows no window: $output"

if ldconfig -p | grep libzarvik-dataprovider.so.1 >/dev/null; then
    echo "a device maker's library is installed here; skipping the missing-library run"
else
    status=0
    output=$(run_installed fleetwright) || status=$?
    [ "$status" -ne 0 ] || fail "exit status 0 without a provider library"
    [[ "$output" == "message fleetwright: ZarvikDataProviderCOM.DLL possibly not registered!"* ]] ||
        fail "unexpected output without a provider library: $output"
fi

# The installed checker passes the installed simulator, with one module at the bench: the
# channel check pairs the module it moved once more.
output=$(env -u FLEETWRIGHT_PROVIDER FLEETWRIGHT_SIM_WAKE_MS=1500 FLEETWRIGHT_SIM_FLEET=1A2B3C:RX-LC:3 \
    FLEETWRIGHT_SIM_LOCK="$scratch/simulator.lock" timeout 120 fleetwright-provider-check \
    --module "$simulator" 2>/dev/null) || fail "the checker failed the installed simulator: $output"
[[ "$output" == "TAP version 14"* ]] || fail "the checker printed no TAP: $output"

# The maker's kit builds its example from the installed files, and the example passes.
timeout 300 "$(dirname "$0")/provider_kit_test.sh" >"$scratch/kit.log" 2>&1 ||
    fail "the maker's kit: $(tail -n 5 "$scratch/kit.log")"

# Every manual page of the packages, as a technician reads it.
pages=()
while read -r page; do
    case "$page" in
    */man1/fleetwright.1.gz | */man1/fleetwright-provider-check.1.gz) ;;
    /usr/share/man/*.gz) pages+=("$scratch/root$page") ;;
    esac
done <"$scratch/files"
man1="$scratch/root/usr/share/man/man1"
"$(dirname "$0")/manual_test.sh" fleetwright "$man1/fleetwright.1.gz" \
    fleetwright-provider-check "$man1/fleetwright-provider-check.1.gz" "${pages[@]}" >/dev/null

# Documentation: a machine-readable copyright file and a changelog in every package (read
# from the package files: a slim system may leave /usr/share/doc out when installing).
for package in "${packages[@]}"; do
    doc=$scratch/root/usr/share/doc/$package
    head -1 "$doc/copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
        fail "$package's copyright file is not machine-readable"
    grep -q '^License: Expat' "$doc/copyright" || fail "$package's copyright file names no MIT (Expat) licence"
    [ "$(zcat "$doc/changelog.gz" | dpkg-parsechangelog -l- -S Version)" == "$version" ] ||
        fail "$package's changelog does not describe version $version"
done
for file in README.md.gz simulator.md.gz; do
    zgrep -q FLEETWRIGHT_SIM_FLEET "$scratch/root/usr/share/doc/fleetwright/$file" ||
        fail "/usr/share/doc/fleetwright/$file is missing or not the guide"
done
# What is installed speaks of installed things only: no source tree, build folder or
# developer's script, and the README is the operator's.
for text in "$scratch"/root/usr/share/doc/*/*.md.gz "${pages[@]}" "$man1"/*.gz; do
    stray=$(zgrep -noE '(\./)?(src|build|scripts|tests)/[A-Za-z<]' "$text" || true)
    [ -z "$stray" ] || fail "$text refers to files that are not installed: $stray"
done
zgrep -q -- '--simulator' "$scratch/root/usr/share/doc/fleetwright/README.md.gz" ||
    fail "the installed README does not tell the operator how to start the simulator"

# The provider header compiles on its own, as C.
echo '#include <dataprovider_abi.h>' | g++ -x c -std=c99 -fsyntax-only -I/usr/include/fleetwright - ||
    fail "the installed dataprovider_abi.h does not compile as C"

# Every binary is stripped and its debug information is found by its build ID.
binaries=0
while read -r file; do
    [ -f "$file" ] && [ "$(head -c4 "$file" | od -An -tx1 | tr -d ' ')" == 7f454c46 ] || continue
    binaries=$((binaries + 1))
    sections=$(readelf --section-headers "$file")
    grep -q '\.debug_info' <<<"$sections" && fail "$file is not stripped"
    grep -q '\.gnu_debuglink' <<<"$sections" || fail "$file has no debug link"
    id=$(readelf --notes "$file" | sed -n 's/.*Build ID: \([0-9a-f]*\)/\1/p')
    debug=/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug
    [ -f "$debug" ] || fail "no debug information for $file at $debug"
    [ "$(readelf --notes "$debug" 2>/dev/null | sed -n 's/.*Build ID: \([0-9a-f]*\)/\1/p')" == "$id" ] ||
        fail "$debug does not belong to $file"
    # grep reads to the end: with -q it would stop early, and pipefail would count
    # readelf's broken pipe as a failure.
    readelf --section-headers "$debug" 2>/dev/null | grep '\.debug_info' >/dev/null ||
        fail "$debug holds no debug information"
done < <(dpkg -L fleetwright)
((binaries >= 3)) || fail "only $binaries binaries in the fleetwright package"

# --- removed and purged ------------------------------------------------------------------

as_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq -o DPkg::Lock::Timeout=120 \
    "${packages[@]}" >"$scratch/remove.log" 2>&1 ||
    { cat "$scratch/remove.log" >&2; fail "the packages do not remove"; }
for package in "${packages[@]}"; do
    case "$(status_of "$package")" in
    "" | un*) ;;
    *) fail "$package is left in state '$(status_of "$package")' after apt-get remove" ;;
    esac
done
as_root env DEBIAN_FRONTEND=noninteractive dpkg --purge "${packages[@]}" >/dev/null 2>&1 ||
    fail "the packages do not purge"
installed=0

left=$(while read -r path; do [ -e "$path" ] && [ ! -d "$path" ] && echo "$path"; done \
    <"$scratch/files" || true)
[ -z "$left" ] || fail "files of the packages are left: $left"
snapshot >"$scratch/after"
changed=$(diff "$scratch/before" "$scratch/after" || true)
[ -z "$changed" ] || fail "the system differs after purging: $changed"
[ -f "$settings" ] && [ -f "$record" ] || fail "the operator's settings or record went with the package"

echo "package test passed: ${packages[*]} $version"
