#!/usr/bin/env bash
# Starts the real window under Xvfb and takes a screenshot of each page:
# "Files", "Options", and "Processing" while a job runs; then "preview.png",
# the preview of a landscape with the rectangle drawn around its village.
#   scripts/screenshots.sh [build folder] [output folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=${2:-$build/screenshots}
clipra=$(realpath "$build/app/gui/clipra")
mkdir -p "$out"
out=$(realpath "$out")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A source for the jobs; the third picture is taken while one runs.
size=3000
head -c $((size * size * 3)) /dev/urandom > "$work/src"
cat > "$work/src.ers" <<HEADER
DatasetHeader Begin
	DataSetType	= ERStorage
	DataType	= Raster
	ByteOrder	= LSBFirst
	CoordinateSpace Begin
		Datum	= "WGS84"
		Projection	= "SUTM33"
		CoordinateType	= EN
	CoordinateSpace End
	RasterInfo Begin
		CellType	= Unsigned8BitInteger
		CellInfo Begin
			Xdimension	= 1
			Ydimension	= 1
		CellInfo End
		NrOfLines	= $size
		NrOfCellsPerLine	= $size
		RegistrationCoord Begin
			Eastings	= 0
			Northings	= $size
		RegistrationCoord End
		NrOfBands	= 3
	RasterInfo End
DatasetHeader End
HEADER

# The landscape: fields, a river, roads and a village, 1600 x 1200 cells of
# 1 m, georeferenced by GDAL as an ER Mapper raster.
convert -size 1600x1200 gradient:'#7d9a55'-'#9fb272' \
  -fill '#c9b76a' -draw "polygon 60,80 520,40 560,360 90,400" \
  -fill '#5f8a3c' -draw "polygon 600,60 1000,90 980,380 620,340" \
  -fill '#b7c46d' -draw "polygon 1040,100 1540,60 1560,420 1060,380" \
  -fill '#8c6b3f' -draw "polygon 80,700 480,660 500,1120 100,1150" \
  -fill '#d4c27e' -draw "polygon 1100,700 1560,680 1540,1150 1120,1130" \
  -fill '#2f5a2a' -draw "ellipse 820,980 200,120 0,360" \
  -fill none -stroke '#3b78b5' -strokewidth 26 \
  -draw "path 'M 0,560 C 300,430 600,760 900,560 S 1350,420 1600,600'" \
  -stroke '#9a9a96' -strokewidth 9 -draw "line 0,470 1600,520" -draw "line 760,0 840,1200" \
  -stroke none -fill '#b04a3a' -draw "rectangle 700,600 730,625" \
  -draw "rectangle 745,640 770,662" -draw "rectangle 790,595 822,618" \
  -draw "rectangle 705,680 735,700" -draw "rectangle 850,650 880,675" \
  -fill '#707070' -draw "rectangle 780,690 805,712" -draw "rectangle 860,600 884,622" \
  -attenuate 0.35 +noise Gaussian -blur 0x0.6 -alpha off -depth 8 "PNG24:$work/land.png"
gdal_translate -q -of ERS -a_ullr 400000 6201200 401600 6200000 -a_srs EPSG:32633 \
  "$work/land.png" "$work/land.ers"

# Each run gets settings of its own, beside a copy of the program.
cp "$clipra" "$work/clipra"
cp "$(dirname "$clipra")/clipra.hlp" "$work/" 2>/dev/null || true

export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  set -e
  work=$1 out=$2
  shot() { sleep "$3"; xwd -id "$2" -silent | convert xwd:- "$out/$1.png"; }
  "$work/clipra" "$work/src.ers" "$work/clip.tif" /A0:3000:2999:1 &
  pid=$!
  window=$(xdotool search --sync --onlyvisible --name "Clipra" | head -n 1)
  shot files "$window" 1
  # The second tab, "Options", lies right of "Files" below the tool bar.
  xdotool mousemove --window "$window" 82 62 click 1
  shot options "$window" 0.5
  kill "$pid"; wait "$pid" || true
  # A DTM output is written cell by cell: a 6000 x 6000 grid keeps the job
  # busy for a few seconds. The program is held still while the page is taken.
  "$work/clipra" "$work/src.ers" "$work/clip.dtm" /A0:6000:5999:1 /F &
  pid=$!
  window=$(xdotool search --sync --onlyvisible --name "Clipra" | head -n 1)
  sleep 0.2
  kill -STOP "$pid"
  shot processing "$window" 0
  kill -CONT "$pid"
  wait "$pid"
  # The preview opens with Ctrl+P once the window has the focus; the mouse
  # then rests inside the rectangle, so the status line shows where it is.
  "$work/clipra" "$work/land.ers" "$work/village.tif" /A400690:6200615:400895:6200480 &
  pid=$!
  window=$(xdotool search --sync --onlyvisible --name "Clipra" | head -n 1)
  sleep 0.5
  xdotool mousemove --window "$window" 200 150 click 1
  sleep 0.3
  xdotool key ctrl+p
  preview=$(xdotool search --sync --onlyvisible --name "Preview" | head -n 1)
  sleep 1.5
  xdotool mousemove --window "$preview" 330 270
  shot preview "$preview" 0.5
  kill "$pid"; wait "$pid" || true
' _ "$work" "$out"
echo "Screenshots in $out:"
ls "$out"
