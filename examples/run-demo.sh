#!/usr/bin/env bash
# Runs the bundled example the way a user would: a configuration on the command
# line and console commands piped into standard input.
set -euo pipefail
tarvo=$(realpath "${1:-build/tarvo}")
here=$(cd "$(dirname "$0")" && pwd)
work=$(dirname "$tarvo")/demo
rm -rf "$work"
mkdir -p "$work"
cp "$here"/*.ini "$work"/
cd "$work"

echo "== Tarvo demo: $tarvo tarvo.ini, with console commands piped into it"
printf 'help\napplicationinfo\nstatus\nstart\nquit\ny\n' | "$tarvo" tarvo.ini
echo
echo "== Demo finished. Results are in $work/tarvo/ (the results file: $work/tarvo/tarvo.ini_results.txt)"
