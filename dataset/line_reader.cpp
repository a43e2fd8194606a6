#include "dataset/line_reader.h"

#include "dataset/identify.h"

namespace clipra {

static std::string CheckedName(const std::string& file_name) {
  if (file_name.empty()) throw LineReaderError("ReadLine error No file name");
  return file_name;
}

LineReader::LineReader(const std::string& file_name)
    : MappedOutputFile(CheckedName(file_name), CellType::kUnsigned8, 0, false) {
  if (!OpenRead()) throw LineReaderError("Open read error");
  Reset();
}

void LineReader::Reset() {
  Index = -1;
  LastChar = 0;
}

char LineReader::ReadChar(char& ch) {
  ++Index;
  if (static_cast<uint64_t>(Index) < FileSize())
    ch = static_cast<char>(Data()[Index]);
  else
    ch = kEndOfFileChar;
  // Stay just past the end so that later calls keep answering the end.
  if (static_cast<uint64_t>(Index) > FileSize()) Index = static_cast<int64_t>(FileSize());
  LastChar = ch;
  return ch;
}

std::string& LineReader::ReadLine(std::string& line) {
  line.clear();
  char ch = 0;
  ReadChar(ch);
  if (ch == kEndOfFileChar) {
    line.assign(1, kEndOfFileChar);
    return line;
  }
  while (ch != '\n' && ch != kEndOfFileChar) {
    if (ch != '\r') line.push_back(ch);
    ReadChar(ch);
  }
  return line;
}

}  // namespace clipra
