// World files: six numbers beside an image giving its cell size, rotation
// and the map position of its first cell.
#pragma once

#include <initializer_list>
#include <string>

#include "dataset/georeference.h"

namespace clipra {

// Reads a world file into `georef`: line 1 the cell width,
// lines 2 and 3 the rotation terms (returned, not applied), line 4 the cell
// height (its sign dropped), lines 5 and 6 the map X and Y of the centre of
// cell (0, 0), as every other program writes them; the corner is stored.
// A world file in this program's own layout (IsCornerWorldFile) keeps its
// old meaning: lines 5 and 6 are the corner.
// Numbers take "." or "," as the decimal mark; a missing or unreadable line
// gives the default. On success the georeference strings become "UNKNOWN".
// False, with nothing changed, when the file cannot be read; a missing file
// first resets the georeference to its defaults.
bool ReadWorldFile(Georeference& georef, const std::string& file_name, double& rotation_x,
                   double& rotation_y);
bool ReadWorldFile(Georeference& georef, const std::string& file_name);

// The first world file beside `image` with one of `extensions` (each
// replacing the image's own), looked up as sidecars; empty when none exists.
std::string FindWorldFile(const std::string& image, std::initializer_list<const char*> extensions);

// True for the layout this program writes: exactly six lines, each one
// number with exactly 14 decimals, each ended by CR LF. Its lines 5 and 6
// give the outer corner of cell (0, 0).
bool IsCornerWorldFile(const std::string& file_name);

// Moves a world file's centre of cell (0, 0) to its outer corner, half a
// cell up and left, unless the file is in this program's own layout.
void CentreToCorner(Georeference& georef, const std::string& file_name);

// One world-file number: 14 decimals, right-aligned in 18 characters.
std::string FormatWorldNumber(double value);

// A world file as GDAL writes it, the centre of cell (0, 0) on lines 5 and
// 6, with 10 decimals, "." whatever the locale, and CR LF after each line.
// ReadWorldFile takes it back to the same corner.
std::string CentreWorldFileText(const Georeference& georef);

// Writes the six numbers, each line ended by CR LF; false on any error.
bool WriteWorldFile(const std::string& file_name, double cell_width, double rotation_x,
                    double rotation_y, double cell_height, double left_x, double top_y);

}  // namespace clipra
