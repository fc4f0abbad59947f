#!/bin/sh
# SPDX-FileCopyrightText: 2026 The romstore developers
# SPDX-License-Identifier: MIT

# Renders a man page without a warning, and finds in it each name of what it documents, so that the two
# cannot drift: every command and option that TOOL --help lists; every function, constant and field of
# a HEADER. Usage: check_page.sh PAGE TOOL|HEADER...
set -u
page=$1
shift
if ! command -v groff >/dev/null; then
    echo "groff is missing (Debian: groff-base): $page is not checked"
    # CI installs groff: there its absence fails the test instead of skipping it.
    [ -n "${CI:-}" ] && exit 1
    exit 77
fi
warnings=$(groff -man -ww -z "$page" 2>&1)
[ -z "$warnings" ] || { printf '%s\n' "$warnings"; exit 1; }
text=$(groff -man -Tascii -rHY=0 -P-cbu "$page")
status=0
for source in "$@"; do
    case $source in
    *.h) names=$(grep -o -E '\b(romstore|ROMSTORE)_[A-Za-z_]+|\b[A-Z][A-Za-z]+\(|^ +int [a-z_]+;' "$source" |
        sed -E 's/^ +int //; s/[(;]$//' | grep -v -x -E 'ROMSTORE_(H|EXPORT)|.*_') ;;
    *) names=$("$source" --help | grep -o -E '^  [a-z]+ |(^|[][ |])--?[A-Za-z][-A-Za-z]*' | sed 's/^[][ |]*//') ;;
    esac
    for name in $names; do
        printf '%s\n' "$text" | grep -q -w -F -e "$name" || { echo "$page does not name $name"; status=1; }
    done
done
exit $status
