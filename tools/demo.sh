#!/usr/bin/env bash
# The main job on sample documents the project makes itself, in a console run.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/demo
rm -rf "$out"; mkdir -p "$out/in" "$out/out"
printf 'Lumipix sample\n\nA page of text.\n' > "$out/in/sample.txt"
./build/bin/batchpng "-P:PureConsole=1,Source=$PWD/$out/in/*.doc?,Target=$PWD/$out/out/,LogFile=$PWD/$out/run.log"
echo "demo: console run finished; run log: $out/run.log"
cat "$out/run.log"
