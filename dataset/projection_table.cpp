#include "dataset/projection_table.h"

#include <cstdio>

#include "dataset/utils.h"

namespace clipra {

namespace {

// Geographic systems by name.
struct Geographic {
  uint32_t epsg;
  const char* datum;
};
constexpr Geographic kGeographic[] = {
    {4326, "WGS84"}, {4322, "WGS72DOD"}, {4267, "NAD27"}, {4269, "NAD83"},
    {4283, "GDA94"}, {4202, "AGD66"},    {4203, "AGD84"},
};

// Transverse Mercator zone families: EPSG codes first_code + zone for zones
// first_zone..last_zone.
struct ZoneFamily {
  uint32_t base;  // the code of zone 0
  uint32_t first_zone;
  uint32_t last_zone;
  const char* prefix;  // "NUTM", "SUTM" or "MGA"
  const char* datum;
};
constexpr ZoneFamily kZones[] = {
    {32600, 1, 60, "NUTM", "WGS84"},    {32700, 1, 60, "SUTM", "WGS84"},
    {32200, 1, 60, "NUTM", "WGS72DOD"}, {32300, 1, 60, "SUTM", "WGS72DOD"},
    {26700, 1, 22, "NUTM", "NAD27"},    {26900, 1, 23, "NUTM", "NAD83"},
    {28300, 48, 58, "MGA", "GDA94"},    {20200, 48, 58, "SUTM", "AGD66"},
    {20300, 48, 58, "SUTM", "AGD84"},
};

std::string Clean(const std::string& s) {
  std::string t = StrTrim(s);
  if (t.size() >= 2 && t.front() == '"' && t.back() == '"') t = StrTrim(t.substr(1, t.size() - 2));
  return UpperCase(t);
}

// The digits after `prefix` as a number; false unless they are one to ten digits.
bool Digits(const std::string& s, size_t from, uint32_t& value) {
  if (from >= s.size() || s.size() - from > 9) return false;
  value = 0;
  for (size_t i = from; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    value = value * 10 + static_cast<uint32_t>(s[i] - '0');
  }
  return true;
}

}  // namespace

ErMapperSystem ErMapperFromEpsg(uint32_t epsg) {
  if (epsg == 0) return {"RAW", "RAW"};
  for (const Geographic& g : kGeographic)
    if (g.epsg == epsg) return {"GEODETIC", g.datum};
  for (const ZoneFamily& f : kZones)
    if (epsg >= f.base + f.first_zone && epsg <= f.base + f.last_zone) {
      char zone[8];
      std::snprintf(zone, sizeof zone, "%02u", epsg - f.base);
      return {f.prefix + std::string(zone), f.datum};
    }
  const std::string code = "EPSG:" + std::to_string(epsg);
  return {code, code};
}

uint32_t EpsgFromErMapper(const std::string& projection, const std::string& datum) {
  const std::string p = Clean(projection);
  const std::string d = Clean(datum);
  uint32_t code = 0;
  if (p.rfind("EPSG:", 0) == 0 && Digits(p, 5, code)) return code;
  if (d.rfind("EPSG:", 0) == 0 && Digits(d, 5, code) && (p.empty() || p == d)) return code;
  if (p == "GEODETIC") {
    for (const Geographic& g : kGeographic)
      if (d == g.datum) return g.epsg;
    return 0;
  }
  for (const ZoneFamily& f : kZones) {
    const std::string prefix = f.prefix;
    uint32_t zone = 0;
    if (d == f.datum && p.rfind(prefix, 0) == 0 && Digits(p, prefix.size(), zone) &&
        zone >= f.first_zone && zone <= f.last_zone)
      return f.base + zone;
  }
  return 0;
}

bool IsGeographicEpsg(uint32_t epsg) {
  for (const Geographic& g : kGeographic)
    if (g.epsg == epsg) return true;
  return false;
}

}  // namespace clipra
