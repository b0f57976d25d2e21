#!/usr/bin/env bash
# Runs the bundled example the way a user would: a configuration on the command
# line and console commands piped into standard input.
set -euo pipefail
tarvo=$(realpath "${1:-build/tarvo}")
here=$(cd "$(dirname "$0")" && pwd)
work=$(dirname "$tarvo")/demo
rm -rf "$work"
mkdir -p "$work"
cp "$here"/*.ini "$work"/ 2>/dev/null || true
cd "$work"

echo "== Tarvo demo: console commands piped into $tarvo"
printf 'help\napplicationinfo\nstatus\nstart\nquit\ny\n' | "$tarvo"
echo
echo "== Demo finished. Working folder: $work"
