#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: converts the bundled sample clip
# (build/fixtures/sample.mp4, made at build time: three seconds of a moving ball and a tone)
# with the "MPEG-4 Video (*.mp4)" preset and prints where the output is.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja
cmake --build build
# The sample clip is one of the test media (made with the tests; built here by name in case
# the tests are switched off).
cmake --build build --target fixtures

out=build/demo-output
# A fresh folder each time, so the output keeps its plain name (the converter never overwrites
# a file: a second run into the same folder would write "... [1]").
rm -rf "$out"
./build/mobivert-cli -p "MPEG-4 Video (*.mp4)" -o "$out" build/fixtures/sample.mp4
echo
echo "The converted clip is in $(cd "$out" && pwd):"
ls -l "$out"
