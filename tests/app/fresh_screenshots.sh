#!/bin/sh
# Takes the screenshots anew under Xvfb into a scratch folder and checks their geometry.
# Usage: fresh_screenshots.sh QUORVANE_DEMO CHECKER OUTPUT_DIR
set -eu
demo=$1
checker=$2
out=$3
rm -rf "$out"
status=0
"$(dirname "$0")/../../scripts/screenshots" --demo "$demo" --out "$out" >/dev/null || status=$?
[ "$status" -eq 0 ] || exit "$status"
QUORVANE_SCREENSHOT_DIR=$out exec "$checker"
