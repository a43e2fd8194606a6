#include "support/gdal.h"

#include <sstream>

#include "support/tools.h"

namespace clipra {

const std::string& GdalPython() {
  static const std::string python = [] {
    for (const char* candidate : {"python3", "/usr/bin/python3"})
      if (RunCommand(std::string(candidate) + " -c 'from osgeo import gdal' 2>/dev/null") == 0)
        return std::string(candidate);
    return std::string();
  }();
  return python;
}

bool RunPython(const TempDir& dir, const std::string& script, std::string* output) {
  dir.WriteFile("script.py", script);
  return RunCommand(GdalPython() + " " + ShellQuote(dir.Path("script.py")), output) == 0;
}

GdalView ReadWithGdal(const TempDir& dir, const std::string& name) {
  std::ostringstream py;
  py << "from osgeo import gdal\n"
     << "ds = gdal.Open('" << dir.Path(name) << "')\n"
     << "print(' '.join(repr(v) for v in ds.GetGeoTransform()))\n"
     << "print(ds.RasterXSize, ds.RasterYSize, ds.RasterCount)\n"
     << "for b in range(ds.RasterCount):\n"
     << "  a = ds.GetRasterBand(b + 1).ReadAsArray()\n"
     << "  print(' '.join(str(float(v)) for v in a.flatten()))\n";
  std::string text;
  GdalView view;
  if (!RunPython(dir, py.str(), &text)) return view;
  std::istringstream in(text);
  view.geo.resize(6);
  for (double& g : view.geo) in >> g;
  in >> view.width >> view.height >> view.bands;
  double v = 0;
  while (in >> v) view.cells.push_back(v);
  return view;
}

}  // namespace clipra
