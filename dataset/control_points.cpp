#include "dataset/control_points.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "dataset/line_reader.h"
#include "dataset/os_file.h"
#include "dataset/utils.h"

namespace clipra {

namespace {

std::mutex& HookMutex() {
  static std::mutex mutex;
  return mutex;
}

MessageHook& Hook() {
  static MessageHook hook;
  return hook;
}

void ShowErrorMessage(const std::string& text) {
  MessageHook hook;
  {
    std::lock_guard<std::mutex> lock(HookMutex());
    hook = Hook();
  }
  if (hook) {
    hook(text);
  } else {
    std::fputs(text.c_str(), stderr);
    std::fputc('\n', stderr);
  }
}

constexpr const char* kSeparators = " \t";

// Splits at runs of blanks and tabs. Quotes are ordinary characters; missing
// tokens are empty and tokens past `count` are ignored.
std::vector<std::string> SplitTokens(const std::string& line, size_t count) {
  std::vector<std::string> tokens(count);
  size_t pos = 0;
  for (size_t i = 0; i < count; ++i) {
    pos = line.find_first_not_of(kSeparators, pos);
    if (pos == std::string::npos) break;
    size_t end = line.find_first_of(kSeparators, pos);
    if (end == std::string::npos) end = line.size();
    tokens[i] = line.substr(pos, end - pos);
    pos = end;
  }
  return tokens;
}

bool IsYes(const std::string& text) {
  return UpperCase(text) == "YES";
}

const char* YesNo(bool flag) {
  return flag ? "Yes" : "No";
}

// Unreadable numbers, and numbers a 64-bit float cannot hold, read as 0.
double ParseValue(const std::string& text) {
  const long double v = ParseFloatDef(text, 0);
  if (!(std::fabs(v) <= static_cast<long double>(DBL_MAX))) return 0;
  return static_cast<double>(v);
}

bool IsBlankLine(const std::string& line) {
  return line.find_first_not_of(kSeparators) == std::string::npos;
}

// Calls `on_line` for every line before the end-of-file line. The line reader
// cannot map a file of no bytes; such a file simply has no lines.
template <class OnLine>
void ForEachLine(const std::string& file_name, OnLine on_line) {
  std::error_code ec;
  if (!file_name.empty() && std::filesystem::is_regular_file(file_name, ec) &&
      std::filesystem::file_size(file_name, ec) == 0 && !ec)
    return;
  LineReader reader(file_name);
  std::string line;
  while (!LineReader::IsEndOfFile(reader.ReadLine(line))) on_line(line);
}

}  // namespace

void SetErrorMessageHook(MessageHook hook) {
  std::lock_guard<std::mutex> lock(HookMutex());
  Hook() = std::move(hook);
}

ControlPoint::ControlPoint(const ControlPoint* source) {
  if (!source) return;
  Name = source->GetName();
  Active = source->GetActive();
  CellX = source->GetCellX();
  CellY = source->GetCellY();
  MapX = source->GetMapX();
  MapY = source->GetMapY();
  MapZ = source->GetMapZ();
}

std::unique_ptr<ControlPoint> ControlPoint::CreateFromErsLine(const std::string& line) {
  const std::vector<std::string> t = SplitTokens(line, 8);
  auto point = std::make_unique<ControlPoint>();
  point->Name = t[0];
  point->Active = IsYes(t[1]);
  point->Flag2 = IsYes(t[2]);
  for (int i = 0; i < 5; ++i) point->SetValue(i + 1, ParseValue(t[3 + i]));
  return point;
}

std::unique_ptr<ControlPoint> ControlPoint::CreateFromLine(const std::string& line) {
  const std::vector<std::string> t = SplitTokens(line, 7);
  auto point = std::make_unique<ControlPoint>();
  point->Name = t[0];
  point->Active = IsYes(t[1]);
  for (int i = 0; i < 5; ++i) point->SetValue(i + 1, ParseValue(t[2 + i]));
  return point;
}

double ControlPoint::GetValue(int value_no) const {
  switch (value_no) {
    case 1:
      return GetCellX();
    case 2:
      return GetCellY();
    case 3:
      return GetMapX();
    case 4:
      return GetMapY();
    case 5:
      return GetMapZ();
    default:
      return 0;
  }
}

void ControlPoint::SetValue(int value_no, double value) {
  switch (value_no) {
    case 1:
      SetCellX(value);
      break;
    case 2:
      SetCellY(value);
      break;
    case 3:
      SetMapX(value);
      break;
    case 4:
      SetMapY(value);
      break;
    case 5:
      SetMapZ(value);
      break;
    default:
      break;
  }
}

std::string ControlPoint::GetFieldText(int index) const {
  if (index == 0) return GetName();
  if (index == 1) return YesNo(GetActive());
  if (index >= 2 && index <= 6) return FormatGeneral(GetValue(index - 1));
  return {};
}

void ControlPoint::SetFieldText(int index, const std::string& text) {
  if (index == 0) {
    SetName(text);
  } else if (index == 1) {
    SetActive(IsYes(text));
  } else if (index >= 2 && index <= 6) {
    SetValue(index - 1, ParseValue(text));
  }
}

std::string ControlPoint::ToLine() const {
  const std::string name = GetName();
  std::string line = name.empty() ? "\"\"" : name;
  line += ' ';
  line += YesNo(GetActive());
  for (int i = 1; i <= 5; ++i) {
    line += ' ';
    line += FormatFixed(GetValue(i), 10, 3);
  }
  return line;
}

ControlPoint* ControlPointList::Point(int index) {
  if (index < 0 || index >= Count()) return nullptr;
  return items_[static_cast<size_t>(index)].get();
}

const ControlPoint* ControlPointList::Point(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return items_[static_cast<size_t>(index)].get();
}

void ControlPointList::ResetExtent() {
  MinX = MinY = MinZ = 1e308;
  MaxX = MaxY = MaxZ = -1e308;
}

void ControlPointList::Clear() {
  const bool had_points = !items_.empty();
  items_.clear();
  ResetExtent();
  if (had_points) SetModified(true);
}

void ControlPointList::Append(std::unique_ptr<ControlPoint> point) {
  items_.push_back(std::move(point));
  SetModified(true);
}

void ControlPointList::AddPoint(const ControlPoint* source) {
  Append(std::make_unique<ControlPoint>(source));
}

void ControlPointList::AddFromErsLine(const std::string& line) {
  Append(ControlPoint::CreateFromErsLine(line));
}

void ControlPointList::AddFromLine(const std::string& line) {
  std::unique_ptr<ControlPoint> point = ControlPoint::CreateFromLine(line);
  MinX = std::fmin(MinX, point->MapX);
  MaxX = std::fmax(MaxX, point->MapX);
  MinY = std::fmin(MinY, point->MapY);
  MaxY = std::fmax(MaxY, point->MapY);
  MinZ = std::fmin(MinZ, point->MapZ);
  MaxZ = std::fmax(MaxZ, point->MapZ);
  Append(std::move(point));
}

void ControlPointList::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  items_.erase(items_.begin() + index);
  SetModified(true);
}

std::string ControlPointList::GetName(int index) const {
  const ControlPoint* p = Point(index);
  return p ? p->GetName() : std::string();
}

bool ControlPointList::GetActive(int index) const {
  const ControlPoint* p = Point(index);
  return p ? p->GetActive() : false;
}

double ControlPointList::GetValue(int index, int value_no) const {
  const ControlPoint* p = Point(index);
  return p ? p->GetValue(value_no) : 0;
}

void ControlPointList::SetName(int index, const std::string& value) {
  ControlPoint* p = Point(index);
  if (!p || p->GetName() == value) return;
  p->SetName(value);
  SetModified(true);
}

void ControlPointList::SetActive(int index, bool value) {
  ControlPoint* p = Point(index);
  if (!p || p->GetActive() == value) return;
  p->SetActive(value);
  SetModified(true);
}

void ControlPointList::SetValue(int index, int value_no, double value) {
  ControlPoint* p = Point(index);
  if (!p || value_no < 1 || value_no > 5 || p->GetValue(value_no) == value) return;
  p->SetValue(value_no, value);
  SetModified(true);
}

void ControlPointList::SetModified(bool value) {
  Modified = value;
  if (value && OnChange) OnChange(this);
}

bool ControlPointList::LoadFromFile(const std::string& file_name) {
  if (file_name.empty()) return false;
  Clear();
  ForEachLine(file_name, [this](const std::string& line) {
    if (IsBlankLine(line)) return;
    if (line[0] != ';') {
      AddFromLine(line);
      return;
    }
    const std::string key = line.substr(0, 3);
    if (key == ";S=") {
      Spheroid = line.substr(3);
    } else if (key == ";D=") {
      Datum = line.substr(3);
    } else if (key == ";P=") {
      Projection = line.substr(3);
    }
  });
  SetModified(false);
  return true;
}

bool ControlPointList::ImportMapPoints(const std::string& file_name) {
  if (file_name.empty()) return false;
  Clear();
  ForEachLine(file_name, [this](const std::string& line) {
    if (IsBlankLine(line) || line[0] == ';') return;
    const std::vector<std::string> t = SplitTokens(line, 4);
    auto point = std::make_unique<ControlPoint>();
    point->Name = t[0];
    point->MapX = ParseValue(t[1]);
    point->MapY = ParseValue(t[2]);
    point->MapZ = ParseValue(t[3]);
    Append(std::move(point));
  });
  // Callers edit the imported table, which must have a row to edit.
  if (items_.empty()) AddPoint(nullptr);
  SetModified(false);
  return true;
}

bool ControlPointList::ImportSurveyTable(const std::string& file_name) {
  Clear();
  try {
    bool heading = true;
    ForEachLine(file_name, [this, &heading](const std::string& line) {
      if (heading) {
        heading = false;
        return;
      }
      if (IsBlankLine(line) || line[0] == ';') return;
      // Northing comes before easting in these tables.
      const std::vector<std::string> t = SplitTokens(line, 5);
      auto point = std::make_unique<ControlPoint>();
      point->Name = std::to_string(items_.size());
      point->Active = true;
      point->MapY = ParseValue(t[0]);
      point->MapX = ParseValue(t[1]);
      point->MapZ = ParseValue(t[2]);
      point->CellX = ParseValue(t[3]);
      point->CellY = ParseValue(t[4]);
      Append(std::move(point));
    });
  } catch (const LineReaderError&) {
    return false;
  }
  SetModified(false);
  return true;
}

bool ControlPointList::SaveToFile(const std::string& file_name) {
  if (items_.empty() || file_name.empty()) return false;
  std::string text;
  if (!Spheroid.empty() && !Datum.empty() && !Projection.empty())
    text += ";S=" + Spheroid + "\r\n;D=" + Datum + "\r\n;P=" + Projection + "\r\n";
  for (size_t i = 0; i < items_.size(); ++i) {
    const ControlPoint& p = *items_[i];
    if (Indent) text += "\t\t\t";
    const std::string name = p.GetName();
    text += name.empty() ? std::to_string(i) : name;
    text += '\t';
    text += YesNo(p.GetActive());
    for (int v = 1; v <= 5; ++v) {
      text += '\t';
      text += FormatRight3(p.GetValue(v), 10);
    }
    text += "\r\n";
  }

  bool failed = false;
  int error = 0;
  errno = 0;
  if (std::FILE* file = std::fopen(file_name.c_str(), "wb"); file == nullptr) {
    failed = true;
    error = errno;
  } else {
    if (std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
      failed = true;
      error = errno;
    }
    errno = 0;
    if (std::fclose(file) != 0 && !failed) {
      failed = true;
      error = errno;
    }
  }
  if (failed) {
    // A short write does not always leave a code behind.
    ShowErrorMessage("Error in output file:\r" + SystemErrorText(error != 0 ? error : EIO));
    return false;
  }
  SetModified(false);
  return true;
}

}  // namespace clipra
