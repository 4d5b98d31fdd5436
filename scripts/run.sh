#!/usr/bin/env bash
# Sets up the machine, builds the product (i686) and starts quillozip.exe
# under Wine. With no display it runs under Xvfb inside a Wine virtual
# desktop, which draws the title bars and the notification area.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh
source scripts/wine-loader.sh
bash scripts/build.sh "$qz_run_kind"
exe=build/$qz_run_kind/bin/quillozip.exe
if [ -n "${DISPLAY:-}" ]; then
    exec bash scripts/wine-run.sh "$exe"
fi
source scripts/xvfb.sh
echo "quillozip.exe runs on display $DISPLAY; see it with: DISPLAY=$DISPLAY import -window root shot.png"
echo "end it from its tray menu (退出) or with Ctrl+C"
winexe="Z:${top//\//\\}\\build\\$qz_run_kind\\bin\\quillozip.exe"
bash scripts/wine-run.sh explorer "/desktop=QuilloZIP,1280x800" "$winexe"
