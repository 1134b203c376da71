#!/usr/bin/env bash
# The main job on the shipped sample: builds the filter, runs it the way CUPS
# does on a 100 x 150 mm label raster, and summarises the label stream.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

cmake -S . -B build -DLBL_BUILD_BENCH=OFF >/dev/null
cmake --build build -j "$(nproc)" --target lblfilter

mkdir -p out
./build/lblfilter 1 "${USER:-root}" sample 1 "" tests/data/sample-label.ras > out/sample-label.lbl
echo "wrote out/sample-label.lbl ($(stat -c %s out/sample-label.lbl) bytes):"
grep -a -o -E '^(SIZE|GAP|SPEED|DENSITY|DIRECTION|REFERENCE|BITMAP [0-9-]+,[0-9-]+,[0-9]+,[0-9]+|PRINT)[^\r]*' out/sample-label.lbl
