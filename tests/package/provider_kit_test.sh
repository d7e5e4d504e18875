#!/usr/bin/env bash
# The maker's kit as a maker meets it: with the packages fleetwright and
# fleetwright-provider-dev installed, builds the installed example provider from the
# installed files alone (pkg-config, the header, the Makefile) and runs the installed
# checker on it with a live (emulated) module and writes. Every check must pass.
#   provider_kit_test.sh [EXAMPLES_DIR]
# PKG_CONFIG and FLEETWRIGHT_PROVIDER_CHECK may name other commands, for a tree unpacked
# somewhere else (PKG_CONFIG="pkg-config --define-prefix" with PKG_CONFIG_PATH set).
set -euo pipefail
examples="${1:-/usr/share/doc/fleetwright-provider-dev/examples}"
pkg_config="${PKG_CONFIG:-pkg-config}"
checker="${FLEETWRIGHT_PROVIDER_CHECK:-fleetwright-provider-check}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

$pkg_config --exists fleetwright-provider || fail "pkg-config does not know fleetwright-provider"
includedir=$($pkg_config --variable=includedir fleetwright-provider)
[ -f "$includedir/dataprovider_abi.h" ] || fail "no dataprovider_abi.h in $includedir"
providerdir=$($pkg_config --variable=providerdir fleetwright-provider)
[ -n "$providerdir" ] || fail "the .pc file names no providerdir"
name=$($pkg_config --variable=providername fleetwright-provider)
[ "$name" == "libzarvik-dataprovider.so.1" ] || fail "providername is '$name'"
manual="$($pkg_config --variable=prefix fleetwright-provider)/share/man/man7/fleetwright-provider.7.gz"
[ -f "$manual" ] || fail "no manual page $manual"
if command -v groff >/dev/null; then
    warnings=$(zcat "$manual" | groff -man -Tutf8 -ww -z 2>&1)
    [ -z "$warnings" ] || fail "fleetwright-provider(7) does not format cleanly: $warnings"
fi
for f in example.c Makefile; do
    [ -f "$examples/$f" ] || fail "missing $examples/$f"
    cp "$examples/$f" "$scratch/"
done

# The build line of the documents, and the example's own Makefile.
# shellcheck disable=SC2046 # the flags are words
(cd "$scratch" && cc $($pkg_config --cflags fleetwright-provider) -shared -fPIC \
    -o libbyhand.so example.c) || fail "the example does not build by hand"
make -s -C "$scratch" PKG_CONFIG="$pkg_config" >"$scratch/make.log" 2>&1 ||
    { cat "$scratch/make.log" >&2; fail "the example's Makefile fails"; }
exported=$(nm -D --defined-only "$scratch/$name" | awk '{print $3}' | grep -vc '^zdp_' || true)
[ "$exported" -eq 0 ] || fail "the Makefile's library exports $exported symbols besides zdp_*"

for library in "$scratch/libbyhand.so" "$scratch/$name"; do
    output=$(timeout 120 "$checker" --module --write "$library" 2>/dev/null) ||
        fail "the checker fails the example ($library):"$'\n'"$output"
    grep -q '^# summary: .* 0 failed, 0 skipped$' <<<"$output" ||
        fail "not every check passed ($library):"$'\n'"$output"
done
echo "provider kit: the example builds from the installed kit and passes every check"
