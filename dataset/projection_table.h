// EPSG codes and the ER Mapper projection and datum strings that name the
// same coordinate system, as GDAL's ER Mapper driver writes them: named
// strings for the systems ER Mapper knows, "EPSG:nnnn" as both strings for
// every other code, so that the code survives the trip.
#pragma once

#include <cstdint>
#include <string>

namespace clipra {

struct ErMapperSystem {
  std::string projection;
  std::string datum;
};

// The strings for an EPSG code; "RAW" for both when the code is 0.
ErMapperSystem ErMapperFromEpsg(uint32_t epsg);

// The EPSG code that a projection and datum pair names, or 0 when it names
// none. Case and blanks around the strings do not matter; quotes are dropped.
uint32_t EpsgFromErMapper(const std::string& projection, const std::string& datum);

// True when the code is a geographic (latitude and longitude) system of the table.
bool IsGeographicEpsg(uint32_t epsg);

}  // namespace clipra
