#!/usr/bin/env bash
# The main job on its built-in default. Installs, builds, runs.
#
# For now: generates a test picture, encodes it as an MJPEG frame of the DVR's
# format with mjpegtool, decodes the frame back to a viewable 24-bit BMP (the
# picture as the client displays it, 640 x 436) and prints where it is.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target mjpegtool

tool="build/release${RD_BUILD_SUFFIX:-}/bin/mjpegtool"
out=build/demo
mkdir -p "$out"

echo
echo "== 1. a generated test picture (640 x 224)"
"$tool" testpicture "$out/testpicture.bmp"
echo "== 2. encoded as one MJPEG frame (quantisation level 2)"
"$tool" encode --q 2 "$out/testpicture.bmp" "$out/testpicture.mjpeg"
echo "== 3. decoded back and written as displayed"
"$tool" show "$out/testpicture.mjpeg" "$out/decoded.bmp"
echo "== 4. the same for the test card of camera channel 1"
"$tool" testpicture --card 1 "$out/testcard.bmp"
"$tool" encode --q 4 --channel 1 "$out/testcard.bmp" "$out/testcard.mjpeg"
"$tool" show "$out/testcard.mjpeg" "$out/testcard-decoded.bmp"

echo
echo "Decoded picture: $(realpath "$out/decoded.bmp")"
echo "Decoded test card: $(realpath "$out/testcard-decoded.bmp")"
echo "Originals and frames are next to them in $(realpath "$out")/"
