#!/usr/bin/env bash
# Sets up the machine, builds the product (i686) and starts it under Wine.
# With no display, it runs under Xvfb inside a Wine virtual desktop.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh
bash scripts/build.sh i686
source scripts/xvfb.sh

# Until the tray program lands, show the command-line companion at work on
# an archive made here by Info-ZIP zip.
sample=$(mktemp -d)
trap 'rm -rf "$sample"' EXIT
mkdir -p "$sample/示例/docs"
echo "QuilloZIP" >"$sample/示例/readme.txt"
printf 'a,b\n1,2\n' >"$sample/示例/docs/data.csv"
(cd "$sample" && zip -qr sample.zip 示例)
cli=build/i686/bin/quillozip-cli.exe
bash scripts/wine-run.sh "$cli" list "Z:${sample//\//\\}\\sample.zip"
bash scripts/wine-run.sh "$cli" extract "Z:${sample//\//\\}\\sample.zip" "Z:${sample//\//\\}\\out"
find "$sample/out" -type f
