#!/bin/sh
# SPDX-FileCopyrightText: 2026 The romstore developers
# SPDX-License-Identifier: MIT

# The store on simulated flash in ./flash: a record written and read back, the power cut in the
# middle of the next write, the previous record read again, and the flash as the cut left it.
# Usage: demo.sh ROMSIM ROMCTL
set -e
PATH="$(dirname "$1"):$(dirname "$2"):$PATH"

# Shows a command line, then runs it.
step() {
    printf '\n$ %s\n' "$1"
    eval "$1"
}

step "printf 'version 1' | romsim -- romctl write 1"
step "romsim -- romctl read 1"
echo

# A write programs the checksum word, then the record, then the status word that commits it: the
# second flash operation is the record, and the cut leaves 4 of its bytes. romsim reports the cut
# with exit status 137.
status=0
step "printf 'version 2' | romsim --cut-after 2 --cut-bytes 4 -- romctl write 1" || status=$?
test "$status" -eq 137

step "romsim -- romctl read 1"
echo
step "romsim -- romctl inspect 1"
