#!/bin/sh
# SPDX-FileCopyrightText: 2026 The romstore developers
# SPDX-License-Identifier: MIT

# The transcript that README.md shows after "A first run prints:" is what tools/demo.sh prints on
# fresh flash, but for the blank line that the demo prints first to set itself off from the build.
# Usage: readme_demo.sh SOURCE_DIR ROMSIM ROMCTL SCRATCH
set -e
rm -rf "$4" && mkdir -p "$4" && cd "$4"
sh "$1/tools/demo.sh" "$2" "$3" >demo.out 2>&1
awk 'shown && /^```/ { if (inside) exit; inside = 1; next }
     inside { print }
     /A first run prints:$/ { shown = 1 }' "$1/README.md" >readme.out
sed 1d demo.out | diff -u readme.out -
