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
# The example names the shipped materials, its spectrum and its detector model
# relative to the source tree; the copy names them absolutely.
sed -e "s|\.\./data/|$root/data/|" -e "s|= spectra/|= $here/spectra/|" -e "s|= detectors/|= $here/detectors/|" \
    "$here/phantom.ini" > "$work/phantom.ini"
cd "$work"

echo "== Tarvo demo: $tarvo phantom.ini, with console commands piped into it"
# The input ends after Start: nobody is left to ask for more particles, so the
# program ends once the results are written.
printf 'help\nstatus\nstart\n' | "$tarvo" phantom.ini
echo
echo "== Demo finished. Results are in $work/phantom/:"
echo "   summary: $work/phantom/phantom.ini_results.txt"
for image in "$work"/phantom/phantom.ini_Detector0*; do echo "   image:   $image"; done
echo "   View the TIFF images with any viewer that shows 32/64-bit float images (ImageJ/Fiji),"
echo "   or: /usr/bin/python3 -c \"import tifffile,sys; print(tifffile.imread(sys.argv[1]).mean())\" <image>"
