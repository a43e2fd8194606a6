#include "formats/header/nog.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "dataset/identify.h"
#include "dataset/os_file.h"
#include "dataset/utils.h"

namespace clipra {

namespace nog {

namespace {

void PutText(Record& record, size_t offset, const std::string& text) {
  // Every text is far shorter than the room up to the next field.
  std::memcpy(record.data() + offset, text.data(), text.size());
}

// Plain decimal notation, the shortest that reads back to the same double:
// the general shortest form would write round coordinates such as 6000000
// as "6e+06". Only a value whose plain form would not fit falls back to it.
std::string DecimalText(double v) {
  char buf[48];
  auto result = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  if (result.ec != std::errc()) result = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, result.ptr);
}

}  // namespace

Record MakeRecord(double cell_size, double top_y, double left_x, int32_t lines, int32_t width) {
  Record record{};
  PutText(record, kCellSizeOffset, DecimalText(cell_size));
  PutText(record, kTopYOffset, DecimalText(top_y));
  PutText(record, kLeftXOffset, DecimalText(left_x));
  PutText(record, kLinesOffset, std::to_string(lines));
  PutText(record, kWidthOffset, std::to_string(width));
  return record;
}

std::string RecordText(const Record& record, size_t offset) {
  if (offset >= record.size()) return {};
  const auto begin = record.begin() + static_cast<std::ptrdiff_t>(offset);
  const auto end = std::find(begin, record.end(), uint8_t{0});
  return std::string(begin, end);
}

}  // namespace nog

namespace {

bool WriteRecord(const std::string& file_name, const nog::Record& record) {
  return WriteTextFile(file_name, std::string(record.begin(), record.end()));
}

// A header text fit to quote in a message.
std::string Printable(const std::string& text) {
  std::string s = text.substr(0, 24);
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
  return text.size() > s.size() ? s + "..." : s;
}

int32_t RecordCount(const nog::Record& record, size_t offset, const char* what,
                    const std::string& file_name) {
  const std::string text = nog::RecordText(record, offset);
  int32_t v = 0;
  if (!ParseInt32(text, v))
    throw ConvertError("Header " + ExtractFileName(file_name) + ": the " + what + " '" +
                       Printable(text) + "' is not an integer");
  return v;
}

// The path itself when it exists, else a case-insensitive match, else the path.
std::string Sidecar(const std::string& path) {
  const std::string found = FindSidecar(path);
  return found.empty() ? path : found;
}

}  // namespace

NogHeader::NogHeader() {
  cell_type_ = CellType::kSigned16;
  MSBFirst = 0;
  Bands = 1;
}

bool NogHeader::Read(const std::string& file_name) {
  Status = 2;
  Record.fill(0);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(file_name.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) return false;
  const size_t got = std::fread(Record.data(), 1, Record.size(), file.get());
  const bool read_ok = got == Record.size() && !std::ferror(file.get());
  const bool closed = std::fclose(file.release()) == 0;
  // A short record would leave the texts empty; it fails as unreadable rather
  // than as a bad count.
  if (!read_ok || !closed) return false;
  Lines = RecordCount(Record, nog::kLinesOffset, "line count", file_name);
  Width = RecordCount(Record, nog::kWidthOffset, "width", file_name);
  Georef.RegX = static_cast<double>(ParseFloatDef(nog::RecordText(Record, nog::kLeftXOffset), 0));
  Georef.RegY = static_cast<double>(ParseFloatDef(nog::RecordText(Record, nog::kTopYOffset), 0));
  Georef.CellSizeX =
      static_cast<double>(ParseFloatDef(nog::RecordText(Record, nog::kCellSizeOffset), 0));
  Georef.CellSizeY = Georef.CellSizeX;
  Status = 0;
  return true;
}

bool NogHeader::Write(const std::string& file_name) {
  return WriteRecord(
      file_name, nog::MakeRecord(Georef.CellSizeX, Georef.TopY(), Georef.LeftX(), Lines, Width));
}

NogReader::NogReader() {
  Header = std::make_unique<NogHeader>();
}

void NogReader::SetFileName(const std::string& file_name) {
  FileName = Sidecar(ChangeFileExt(file_name, ".002"));
  Header->FileName = Sidecar(ChangeFileExt(file_name, ".001"));
}

bool NogReader::Open(const std::string& file_name) {
  SetFileName(file_name);
  try {
    if (!Header->Read(Header->FileName)) {
      ErrorText = "Header " + ShortenPath(Header->FileName, 20) + " reading error ";
      return false;
    }
  } catch (const ConvertError& e) {
    ErrorText = e.what();
    return false;
  }
  const int32_t header_width = Header->Width;
  const int32_t header_lines = Header->Lines;
  if (header_width <= 0 || header_lines <= 0) {
    ErrorText = "Header " + ExtractFileName(Header->FileName) +
                " describes no cells: " + std::to_string(header_width) + " cells per line, " +
                std::to_string(header_lines) + " lines";
    return false;
  }
  const uint64_t line_bytes = uint64_t{2} * static_cast<uint32_t>(header_width);
  auto no_whole_line = [&](uint64_t size) {
    ErrorText = "Data file " + ExtractFileName(FileName) + " holds " + std::to_string(size) +
                " bytes, less than one line of " + std::to_string(header_width) +
                " signed 16-bit cells";
    return false;
  };
  // An empty file cannot be mapped; say why it is useless instead.
  std::error_code ec;
  const uintmax_t size_on_disk = std::filesystem::file_size(FileName, ec);
  if (!ec && size_on_disk < line_bytes) return no_whole_line(size_on_disk);
  if (!MappedFile::Open(FileName, 0, 0)) {
    ErrorText = "Open Map Read Error=" + std::to_string(LastError) + " " +
                SystemErrorText(static_cast<int>(LastError));
    return false;
  }
  const uint64_t whole_lines = FileSize / line_bytes;
  if (whole_lines == 0) {
    Close();
    return no_whole_line(FileSize);
  }
  if (line_bytes > MaxViewSize) {
    Close();
    ErrorText = "Buffer size is less than one line";
    return false;
  }
  // The header's grid, not the buffered file's one-line rule: a data file
  // shorter than described loses its missing lines, a longer one its tail.
  Width = static_cast<uint32_t>(header_width);
  Lines =
      static_cast<uint32_t>(std::min<uint64_t>(static_cast<uint32_t>(header_lines), whole_lines));
  Bands = 1;
  cell_type_ = CellType::kSigned16;
  SetByteOrder(false);
  CellCount = uint64_t{Width} * Lines;
  LineSize = line_bytes;
  FirstLine = 0;
  EndLine = static_cast<int64_t>(ViewSize / LineSize);
  LineStart = View;
  return true;
}

bool NogOutputHeader::Write() const {
  return WriteRecord(FileName, nog::MakeRecord(CellSizeX, RegY, RegX, Lines, Width));
}

std::string NogWriter::HeaderPath(const std::string& file_name) {
  return ExtractFileExt(file_name).empty() ? file_name + ".001" : file_name;
}

std::string NogWriter::DataPath(const std::string& file_name) {
  return ChangeFileExt(file_name, ".002");
}

namespace {

std::string CheckedDataPath(const std::string& file_name) {
  const std::string data = NogWriter::DataPath(file_name);
  if (data == NogWriter::HeaderPath(file_name))
    throw NogError("The NOG header " + file_name + " would also be its data file");
  return data;
}

}  // namespace

NogWriter::NogWriter(const std::string& file_name, uint16_t width, uint16_t lines,
                     CellType /*cell_type*/, int32_t bands, uint8_t mode) try
    : RasterWriter(CheckedDataPath(file_name), width, lines, CellType::kSigned16, bands, mode,
                   false) {
  header_ = std::make_unique<NogOutputHeader>(HeaderPath(file_name));
  header_->Lines = lines;
  header_->Width = width;
  // The one layout the reader knows, whatever the caller asked for.
  header_->Bands = 1;
  Bands = 1;
  SetByteOrder(false);
  if (mode != 1) return;
  if (!CreateNew(uint64_t{width} * lines))
    throw NogError("Open map write error=" + std::to_string(LastError()) + " " +
                   SystemErrorText(static_cast<int>(LastError())));
  header_->Write();
} catch (const MappedOutputError& e) {
  throw NogError(e.what());
}

NogWriter::~NogWriter() {
  if (Mode() == 1 && header_) header_->Write();
}

Georeference NogWriter::GetGeoreference() {
  return {.CellSizeX = header_->CellSizeX,
          .CellSizeY = header_->CellSizeY,
          .RegX = header_->RegX,
          .RegY = header_->RegY,
          .Spheroid = "KA",
          .Datum = "CS42",
          .Projection = "Gauss_North"};
}

void NogWriter::SetGeoreference(const Georeference& georef) {
  header_->CellSizeX = georef.CellSizeX;
  header_->CellSizeY = georef.CellSizeY;
  // The record knows only the top-left corner of cell (0, 0).
  header_->RegX = georef.LeftX();
  header_->RegY = georef.TopY();
  if (Mode() == 1) header_->Write();
}

}  // namespace clipra
