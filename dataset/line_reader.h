// Reads a text file line by line over a read-only whole-file mapping.
#pragma once

#include <stdexcept>
#include <string>

#include "dataset/mapped_output.h"

namespace clipra {

class LineReaderError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The end of the file is the character 26; ReadLine returns a one-character
// string holding it at the end.
constexpr char kEndOfFileChar = 26;

class LineReader : public MappedOutputFile {
 public:
  // Raises LineReaderError "ReadLine error No file name" or "Open read error".
  explicit LineReader(const std::string& file_name);

  void Reset();
  char ReadChar(char& ch);
  std::string& ReadLine(std::string& line);
  // True for the end-of-file line that ReadLine gives.
  static bool IsEndOfFile(const std::string& line) {
    return line.size() == 1 && line[0] == kEndOfFileChar;
  }

  int64_t Index = -1;
  char LastChar = 0;
};

}  // namespace clipra
