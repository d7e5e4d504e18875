#!/usr/bin/env bash
# Builds the Debian package from the build tree, unpacks it into a scratch folder and
# starts the unpacked program: against the unpacked simulator it must reach its window
# and close cleanly; with no provider library it must end with the start-up message.
set -euo pipefail
build_dir="$1"
version="$2"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build_dir/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
deb="$scratch/out/fleetwright_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no package named $(basename "$deb"): $(ls "$scratch/out")"

depends=$(dpkg-deb -f "$deb" Depends)
for needed in fonts-liberation libqt6widgets6; do
    [[ "$depends" == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done

root="$scratch/root"
dpkg -x "$deb" "$root"
simulator="$root/usr/lib/fleetwright/libfleetwright-simulator.so"
desktop="$root/usr/share/applications/org.fleetwright.Fleetwright.desktop"
for f in usr/bin/fleetwright usr/lib/fleetwright/libfleetwright-simulator.so \
    usr/bin/fleetwright-provider-check usr/share/man/man1/fleetwright-provider-check.1.gz \
    usr/include/fleetwright/dataprovider_abi.h usr/share/man/man1/fleetwright.1.gz \
    usr/share/icons/hicolor/scalable/apps/org.fleetwright.Fleetwright.svg; do
    [ -e "$root/$f" ] || fail "missing $f"
done
for size in 16 24 32 48; do
    [ -f "$root/usr/share/icons/hicolor/${size}x${size}/apps/org.fleetwright.Fleetwright.png" ] ||
        fail "missing ${size}px icon"
done
desktop-file-validate "$desktop" || fail "desktop entry does not validate"
grep -q "^Exec=fleetwright --simulator$" \
    "$desktop" || fail "desktop entry has no simulator action"

zcat "$root/usr/share/man/man1/fleetwright.1.gz" | grep -q '^\.TH FLEETWRIGHT 1 ' ||
    fail "the manual page has no title line"
if command -v groff >/dev/null; then
    warnings=$(zcat "$root/usr/share/man/man1/fleetwright.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
    [ -z "$warnings" ] || fail "the manual page does not format cleanly: $warnings"
fi

# Answered without a display and without loading any library.
printed=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM FLEETWRIGHT_PROVIDER=/nonexistent \
    "$root/usr/bin/fleetwright" --version) || fail "--version failed"
[ "$printed" == "fleetwright $version" ] || fail "--version printed: $printed"

run_installed() {
    env -u FLEETWRIGHT_PROVIDER XDG_CONFIG_HOME="$scratch/config" QT_QPA_PLATFORM=offscreen \
        FLEETWRIGHT_EXIT_AFTER_SHOW=1 FLEETWRIGHT_SIM_WAKE_MS=0 \
        FLEETWRIGHT_SIM_LOCK="$scratch/simulator.lock" "$@" \
        timeout 60 "$root/usr/bin/fleetwright"
}

output=$(run_installed FLEETWRIGHT_PROVIDER="$simulator") || fail "exit status $? with the simulator"
[[ "$output" == shown* ]] || fail "window not shown: $output"
[ -f "$scratch/config/fleetwright/fleetwright.conf" ] || fail "closing did not write the settings"

# The installed checker passes the installed simulator, and its manual names every check.
checker="$root/usr/bin/fleetwright-provider-check"
output=$(env -u FLEETWRIGHT_PROVIDER FLEETWRIGHT_SIM_WAKE_MS=1500 \
    FLEETWRIGHT_SIM_LOCK="$scratch/simulator.lock" timeout 60 "$checker" --module "$simulator" \
    2>/dev/null) || fail "the checker failed the installed simulator: $output"
[[ "$output" == "TAP version 14"* ]] || fail "the checker printed no TAP: $output"
manual=$(MANWIDTH=200 man -l "$root/usr/share/man/man1/fleetwright-provider-check.1.gz" 2>&1) ||
    fail "the manual does not render: $manual"
checks=$("$checker" --list | cut -f1)
[ -n "$checks" ] || fail "the checker lists no checks"
for name in $checks; do
    grep -qF -- "$name" <<<"$manual" || fail "the manual does not describe the check $name"
done

if ldconfig -p | grep -q libzarvik-dataprovider.so.1; then
    echo "a device maker's library is installed here; skipping the missing-library run"
else
    rm -rf "$scratch/config"
    status=0
    output=$(run_installed) || status=$?
    [ "$status" -ne 0 ] || fail "exit status 0 without a provider library"
    [[ "$output" == "message fleetwright: ZarvikDataProviderCOM.DLL possibly not registered!"* ]] ||
        fail "unexpected output without a provider library: $output"
    [ ! -e "$scratch/config" ] || fail "the settings store was touched"
fi
echo "package test passed: $(basename "$deb")"
