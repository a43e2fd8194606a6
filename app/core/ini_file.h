// A small ini file: "[Section]" lines and "Key=Value" lines below them.
// It follows the habits of the desktop's profile functions that the settings
// rely on: a missing file or key reads as the default, names compare without
// regard to case, a write replaces the key in place or appends it to its
// section (or a new section at the end), and everything else in the file,
// comments and unknown keys included, is kept as it was. Lines are written
// with CR LF; LF alone is read as well.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace clipra {

class IniFile {
 public:
  // Reads `file_name` if it exists; a missing or unreadable file is empty.
  explicit IniFile(std::string file_name);
  // Writes pending changes; a failure here goes unreported, use UpdateFile
  // to learn of it.
  virtual ~IniFile();
  IniFile(const IniFile&) = delete;
  IniFile& operator=(const IniFile&) = delete;

  const std::string& FileName() const { return file_name_; }

  // The value with blanks trimmed and one pair of matching quotes removed;
  // `def` when the section or the key is missing.
  std::string ReadString(const std::string& section, const std::string& ident,
                         const std::string& def) const;
  // Decimal, or hexadecimal after "$" or "0x"; `def` when missing or malformed.
  int32_t ReadInteger(const std::string& section, const std::string& ident, int32_t def) const;
  void WriteString(const std::string& section, const std::string& ident, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& ident, int32_t value);

  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& ident) const;
  // Section names in file order.
  std::vector<std::string> ReadSections() const;
  // Key names of `section` in file order.
  std::vector<std::string> ReadSection(const std::string& section) const;
  // "Key=Value" for every key of `section` in file order.
  virtual void ReadSectionValues(const std::string& section,
                                 std::vector<std::string>& strings) const;

  // Writes the file when something changed, creating it if need be. False
  // with `error` set (the error code, a blank and the system's words) when
  // that fails.
  bool UpdateFile(std::string* error = nullptr);

 protected:
  // One line of the file, kept as read so that untouched lines survive.
  struct Line {
    std::string text;
    std::string section;  // for "[...]" lines: the name between the brackets
    std::string key;      // for "Key=Value" lines: the trimmed key
    std::string value;    // the raw text after the first "="
    enum Kind { kOther, kSection, kKey } kind = kOther;
  };

  // Index of the key's line, or npos.
  size_t FindKey(const std::string& section, const std::string& ident) const;
  // Indexes of the key lines of `section`. Like the profile functions, only
  // the first block of that name counts.
  std::vector<size_t> SectionKeys(const std::string& section) const;

 private:
  void Load();

  std::string file_name_;
  std::vector<Line> lines_;
  bool dirty_ = false;
};

}  // namespace clipra
