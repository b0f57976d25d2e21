#!/usr/bin/env bash
# Runs the bundled example the way a user would: a configuration on the command
# line and console commands piped into standard input.
set -euo pipefail
tarvo=$(realpath "${1:-build/tarvo}")
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
work=$(dirname "$tarvo")/demo
rm -rf "$work"
mkdir -p "$work"
# The example names the shipped materials relative to the source tree; the copy names them absolutely.
sed "s|\.\./data/|$root/data/|" "$here/phantom.ini" > "$work/phantom.ini"
cd "$work"

echo "== Tarvo demo: $tarvo phantom.ini, with console commands piped into it"
printf 'help\nstatus\nstart\nquit\ny\n' | "$tarvo" phantom.ini
echo
echo "== Demo finished. Results are in $work/phantom/ (the results file: $work/phantom/phantom.ini_results.txt)"
