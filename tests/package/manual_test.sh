#!/usr/bin/env bash
# The manual pages as a technician reads them at 80 columns: each renders without a warning,
# without a longer line and without a word broken by hyphenation; fleetwright's page has the
# ENVIRONMENT and FILES sections, shows the simulator's path whole and describes every
# option that the program's --help names; the checker's page describes every check that its
# --list names.
# Usage: manual_test.sh FLEETWRIGHT FLEETWRIGHT_PAGE CHECKER CHECKER_PAGE [OTHER_PAGE...]
# (programs as commands to run, pages as gzipped roff).
set -euo pipefail
program="$1" program_page="$2" checker="$3" checker_page="$4"
shift 4
fail() { echo "FAIL: $*" >&2; exit 1; }
export LC_ALL=C.UTF-8 MANWIDTH=80
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# render PAGE: the page's text at 80 columns, failing on a warning or a longer line.
render() {
    local text warnings long broken
    text="$scratch/$(basename "$1").txt"
    warnings=$(man --warnings -l "$1" 2>&1 >"$text") || fail "$1 does not render: $warnings"
    [ -z "$warnings" ] || fail "$1 renders with warnings: $warnings"
    long=$(while IFS= read -r line; do ((${#line} <= 80)) || echo "$line"; done <"$text")
    [ -z "$long" ] || fail "$1 has lines over 80 columns: $long"
    # A hyphen the formatter inserted (U+2010 at a line's end) breaks a word in two: an
    # identifier, a command or a message copied from the page would no longer work.
    broken=$(grep -E $'\u2010$' "$text" || true)
    [ -z "$broken" ] || fail "$1 breaks words at line ends: $broken"
    cat "$text"
}

manual=$(render "$program_page")
for section in ENVIRONMENT FILES; do
    grep -qx "$section" <<<"$manual" || fail "$program_page has no $section section"
done
grep -qF /usr/lib/fleetwright/libfleetwright-simulator.so <<<"$manual" ||
    fail "$program_page does not show the simulator's path whole"
options=$("$program" --help | grep -oE '^  (-[a-zA-Z], )?--[a-z-]+' | grep -oE -- '--[a-z-]+')
[ -n "$options" ] || fail "$program --help names no options"
for option in $options; do
    grep -qF -- "$option" <<<"$manual" || fail "$program_page does not describe $option"
done
[[ "$manual" == *"$("$program" --version)"* ]] || fail "$program_page does not name the version"

manual=$(render "$checker_page")
checks=$("$checker" --list | cut -f1)
[ -n "$checks" ] || fail "$checker lists no checks"
for name in $checks; do
    grep -qF -- "$name" <<<"$manual" || fail "$checker_page does not describe the check $name"
done

for page in "$@"; do render "$page" >/dev/null; done
echo "manual pages: $program_page $checker_page $*"
