#include "app/core/ini_file.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>

#include "dataset/os_file.h"
#include "dataset/utils.h"

namespace clipra {

namespace {

constexpr size_t kNone = std::numeric_limits<size_t>::max();

// Blanks and tabs off both ends. Unlike StrTrim, which keeps at most 255
// characters, a value may be a path of any length.
std::string Trim(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  return UpperCase(Trim(a)) == UpperCase(Trim(b));
}

// A line break inside a value would split it into two lines of the file.
std::string OneLine(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c == '\r' || c == '\n') c = ' ';
  return out;
}

bool ParseHex(const std::string& digits, int32_t& value) {
  if (digits.empty() || digits.size() > 8) return false;
  uint32_t v = 0;
  for (char c : digits) {
    int d = 0;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    v = v * 16 + static_cast<uint32_t>(d);
  }
  value = static_cast<int32_t>(v);
  return true;
}

}  // namespace

IniFile::IniFile(std::string file_name) : file_name_(std::move(file_name)) {
  Load();
}

IniFile::~IniFile() {
  if (dirty_) UpdateFile(nullptr);
}

void IniFile::Load() {
  lines_.clear();
  std::ifstream in(file_name_, std::ios::binary);
  if (!in) return;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string raw = text.substr(start, end - start);
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    start = end + 1;

    Line line;
    line.text = raw;
    const std::string trimmed = Trim(raw);
    if (!trimmed.empty() && trimmed.front() == '[') {
      const size_t close = trimmed.find(']');
      line.kind = Line::kSection;
      line.section =
          Trim(trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    } else if (!trimmed.empty() && trimmed.front() != ';') {
      const size_t eq = raw.find('=');
      if (eq != std::string::npos) {
        line.kind = Line::kKey;
        line.key = Trim(raw.substr(0, eq));
        line.value = raw.substr(eq + 1);
      }
    }
    lines_.push_back(std::move(line));
  }
}

std::vector<size_t> IniFile::SectionKeys(const std::string& section) const {
  std::vector<size_t> keys;
  size_t i = 0;
  while (i < lines_.size() &&
         !(lines_[i].kind == Line::kSection && SameName(lines_[i].section, section)))
    ++i;
  if (i == lines_.size()) return keys;
  for (++i; i < lines_.size() && lines_[i].kind != Line::kSection; ++i)
    if (lines_[i].kind == Line::kKey) keys.push_back(i);
  return keys;
}

size_t IniFile::FindKey(const std::string& section, const std::string& ident) const {
  for (size_t i : SectionKeys(section))
    if (SameName(lines_[i].key, ident)) return i;
  return kNone;
}

std::string IniFile::ReadString(const std::string& section, const std::string& ident,
                                const std::string& def) const {
  const size_t i = FindKey(section, ident);
  if (i == kNone) return def;
  std::string v = Trim(lines_[i].value);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  return v;
}

int32_t IniFile::ReadInteger(const std::string& section, const std::string& ident,
                             int32_t def) const {
  const std::string s = Trim(ReadString(section, ident, ""));
  int32_t v = 0;
  if (ParseInt32(s, v)) return v;
  if (!s.empty() && s[0] == '$' && ParseHex(s.substr(1), v)) return v;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') && ParseHex(s.substr(2), v))
    return v;
  return def;
}

void IniFile::WriteString(const std::string& section, const std::string& ident,
                          const std::string& value) {
  const std::string text = Trim(OneLine(ident)) + "=" + OneLine(value);
  Line line;
  line.kind = Line::kKey;
  line.key = Trim(OneLine(ident));
  line.value = OneLine(value);
  line.text = text;
  dirty_ = true;

  const size_t existing = FindKey(section, ident);
  if (existing != kNone) {
    lines_[existing] = std::move(line);
    return;
  }
  // A new key goes after the section's last non-blank line.
  size_t header = 0;
  while (header < lines_.size() &&
         !(lines_[header].kind == Line::kSection && SameName(lines_[header].section, section)))
    ++header;
  if (header == lines_.size()) {
    Line head;
    head.kind = Line::kSection;
    head.section = Trim(OneLine(section));
    head.text = "[" + head.section + "]";
    lines_.push_back(std::move(head));
    lines_.push_back(std::move(line));
    return;
  }
  size_t insert_at = header + 1;
  for (size_t i = header + 1; i < lines_.size() && lines_[i].kind != Line::kSection; ++i)
    if (!Trim(lines_[i].text).empty()) insert_at = i + 1;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert_at), std::move(line));
}

void IniFile::WriteInteger(const std::string& section, const std::string& ident, int32_t value) {
  WriteString(section, ident, std::to_string(value));
}

bool IniFile::SectionExists(const std::string& section) const {
  for (const Line& l : lines_)
    if (l.kind == Line::kSection && SameName(l.section, section)) return true;
  return false;
}

bool IniFile::ValueExists(const std::string& section, const std::string& ident) const {
  return FindKey(section, ident) != kNone;
}

std::vector<std::string> IniFile::ReadSections() const {
  std::vector<std::string> names;
  for (const Line& l : lines_)
    if (l.kind == Line::kSection) names.push_back(l.section);
  return names;
}

std::vector<std::string> IniFile::ReadSection(const std::string& section) const {
  std::vector<std::string> keys;
  for (size_t i : SectionKeys(section)) keys.push_back(lines_[i].key);
  return keys;
}

void IniFile::ReadSectionValues(const std::string& section,
                                std::vector<std::string>& strings) const {
  strings.clear();
  for (size_t i : SectionKeys(section)) strings.push_back(lines_[i].key + "=" + lines_[i].value);
}

bool IniFile::UpdateFile(std::string* error) {
  if (!dirty_) return true;
  std::string text;
  for (const Line& l : lines_) text += l.text + "\r\n";
  // A new file beside the old one, renamed over it once complete: a full
  // disk never leaves half a settings file behind.
  const std::string temporary = file_name_ + ".tmp";
  bool failed = false;
  int code = 0;
  std::FILE* f = std::fopen(temporary.c_str(), "wb");
  if (!f) {
    failed = true;
    code = errno;
  } else {
    if (std::fwrite(text.data(), 1, text.size(), f) != text.size()) {
      failed = true;
      code = errno;
    }
    if (std::fclose(f) != 0 && !failed) {
      failed = true;
      code = errno;
    }
    if (!failed && std::rename(temporary.c_str(), file_name_.c_str()) != 0) {
      failed = true;
      code = errno;
    }
    if (failed) std::remove(temporary.c_str());
  }
  if (failed) {
    if (code == 0) code = EIO;
    if (error) *error = std::to_string(code) + " " + SystemErrorText(code);
    return false;
  }
  dirty_ = false;
  return true;
}

}  // namespace clipra
