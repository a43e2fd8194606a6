#!/usr/bin/env bash
# Starts the real window under Xvfb and takes a screenshot of each page:
# "Files", "Options", and "Processing" while a job runs.
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

# Each run gets settings of its own, beside a copy of the program.
cp "$clipra" "$work/clipra"
cp "$(dirname "$clipra")/clipra.hlp" "$work/" 2>/dev/null || true

export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
xvfb-run -a -s "-screen 0 640x400x24" bash -c '
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
' _ "$work" "$out"
echo "Screenshots in $out:"
ls "$out"
