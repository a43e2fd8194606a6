// OrthoSetData rasters: a ".osd" keyword header with square-bracket blocks
// beside a raw data file of the same path without extension. It is the
// default output format.
#pragma once

#include <memory>
#include <string>

#include "dataset/output.h"
#include "formats/header/keyword_header.h"

namespace clipra {

class OsdError : public WriterError {
 public:
  using WriterError::WriterError;
};

// The reader family's header.
class OsdHeader : public KeywordHeader {
 public:
  void ParseLine(const std::string& line) override;
  bool Read(const std::string& file_name) override;
  // Writes Compose with the current time stamp.
  bool Write(const std::string& file_name) override;
  // The header text, with `time_stamp` on the LastUpdated line. Applies the
  // RAW rule, which may change CoordinateType.
  virtual std::string Compose(const std::string& time_stamp);

 protected:
  virtual std::string CurrentTimeStamp() { return HeaderTimeStamp(true); }
  // `last_updated` is the label of the stamp line; `unsigned_counts` prints
  // line count and cells per line as unsigned numbers.
  std::string ComposeText(const std::string& last_updated, const std::string& time_stamp,
                          bool unsigned_counts);

  bool spheroid_seen_ = false;
};

class OsdReader : public HeaderRasterReader {
 public:
  OsdReader();
  // The data path is the given path without extension; the header path has ".osd".
  void SetFileName(const std::string& file_name) override;
};

// The writer family's header: the same fields, parsing and template, but
// its stamp line has two blanks before "=", the day and month names follow
// the locale, and the counts are printed signed.
class OsdOutputHeader : public OsdHeader {
 public:
  explicit OsdOutputHeader(const std::string& file_name) { FileName = file_name; }
  std::string Compose(const std::string& time_stamp) override;

 protected:
  std::string CurrentTimeStamp() override { return HeaderTimeStamp(false); }
};

// The writer. Its header lives in memory until the writer is freed, which
// writes it once.
class OsdWriter : public HeaderRasterWriter {
 public:
  // Raises OsdError on every failure. The data path is `file_name`
  // without extension; the header path is `file_name`, with ".osd" added
  // when it has no extension.
  OsdWriter(const std::string& file_name, uint16_t width, uint16_t lines, CellType cell_type,
            int32_t bands, uint8_t mode);

  OsdOutputHeader* Header = nullptr;  // owned by the base
};

}  // namespace clipra
