// GDAL through its Python bindings, as an independent oracle for tests.
#pragma once

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace clipra {

// A Python that can import GDAL's bindings, or empty.
const std::string& GdalPython();

// Runs `script` with that Python in `dir`; its standard output in `output`.
bool RunPython(const TempDir& dir, const std::string& script, std::string* output = nullptr);

// A raster as GDAL reads it.
struct GdalView {
  std::vector<double> geo;  // the geotransform
  int width = 0, height = 0, bands = 0;
  std::vector<double> cells;  // band, line, column
};

// Reads `name` in `dir` with GDAL; empty when GDAL cannot.
GdalView ReadWithGdal(const TempDir& dir, const std::string& name);

}  // namespace clipra

// Skips the test when no Python with GDAL's bindings is installed. CI
// installs python3-gdal, so there the tests always run.
#define REQUIRE_GDAL_PYTHON()                                                                 \
  do {                                                                                        \
    if (::clipra::GdalPython().empty()) GTEST_SKIP() << "python3 with osgeo.gdal is missing"; \
  } while (0)
