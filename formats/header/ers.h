// ER Mapper rasters: a ".ers" keyword header beside a raw data file of the
// same path without extension.
#pragma once

#include <memory>
#include <string>

#include "dataset/output.h"
#include "formats/header/keyword_header.h"

namespace clipra {

class ErsError : public WriterError {
 public:
  using WriterError::WriterError;
};

// The reader family's header.
class ErsHeader : public KeywordHeader {
 public:
  void ParseLine(const std::string& line) override;
  bool Read(const std::string& file_name) override;
  bool Write(const std::string& file_name) override;

 protected:
  // The header text; `english_names` picks fixed English day and month
  // names for the time stamp instead of the locale's, `unsigned_counts`
  // prints the counts as unsigned.
  std::string Compose(bool english_names, bool unsigned_counts);
};

class ErsReader : public HeaderRasterReader {
 public:
  ErsReader();
  // The data path is the given path without extension; the header path has ".ers".
  void SetFileName(const std::string& file_name) override;
};

// The writer family's header: the same fields, parsing and template, but
// it rewrites its file in SetAll and keeps no spheroid.
class ErsOutputHeader : public ErsHeader {
 public:
  explicit ErsOutputHeader(const std::string& file_name) { FileName = file_name; }
  bool Write(const std::string& file_name) override;
  void SetAll(int32_t lines, int32_t width, int32_t bands, const Georeference& georef,
              CellType cell_type) override;
};

class ErsWriter : public HeaderRasterWriter {
 public:
  // Raises ErsError on every failure.
  ErsWriter(const std::string& file_name, uint16_t width, uint16_t lines, CellType cell_type,
            int32_t bands, uint8_t mode);

  ErsOutputHeader* Header = nullptr;  // owned by the base
};

}  // namespace clipra
