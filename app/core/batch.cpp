#include "app/core/batch.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <thread>

#include "dataset/identify.h"
#include "dataset/os_file.h"
#include "dataset/os_locale.h"
#include "dataset/utils.h"

namespace clipra {

namespace {

// More sheets than anyone cuts in one run; it bounds the memory a grid of
// tiny sheets over a huge rectangle would take.
constexpr uint64_t kMaxGridSheets = 1000000;

// A strict number: the whole field, "." as the decimal mark, or "," too
// when `comma_decimal`. NaN when it is not a finite double.
double ParseField(const std::string& field, bool comma_decimal) {
  const long double nan = std::numeric_limits<long double>::quiet_NaN();
  if (!comma_decimal && field.find(',') != std::string::npos) return std::nan("");
  const double v = static_cast<double>(ParseFloatDef(field, nan));
  return std::isfinite(v) ? v : std::nan("");
}

// Splits a line at `separators`, runs of them counting as one. A field may
// be quoted as spreadsheets quote it: "a ""b"".tif".
bool SplitFields(const std::string& line, const std::string& separators,
                 std::vector<std::string>& fields, std::string& error) {
  fields.clear();
  const size_t n = line.size();
  size_t i = 0;
  for (;;) {
    while (i < n && separators.find(line[i]) != std::string::npos) ++i;
    if (i == n) return true;
    std::string field;
    if (line[i] == '"') {
      ++i;
      for (;;) {
        if (i == n) {
          error = "a quote is not closed";
          return false;
        }
        if (line[i] == '"') {
          if (i + 1 < n && line[i + 1] == '"') {
            field += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field += line[i++];
      }
      if (i < n && separators.find(line[i]) == std::string::npos) {
        error = "text follows a quoted field";
        return false;
      }
    } else {
      while (i < n && separators.find(line[i]) == std::string::npos) field += line[i++];
    }
    fields.push_back(field);
  }
}

std::string LineError(size_t line, const std::string& text) {
  return "line " + std::to_string(line) + ": " + text;
}

// The same file name, whichever way it is spelled ("a/./b" and "a/b").
std::string NormalName(const std::string& path) {
  return std::filesystem::path(path).lexically_normal().string();
}

// Each sheet writes its own file: two sheets writing one file at once
// would leave neither.
bool CheckDistinct(const std::vector<Sheet>& sheets, const std::vector<size_t>& lines,
                   std::string& error) {
  std::map<std::string, size_t> seen;
  for (size_t i = 0; i < sheets.size(); ++i) {
    const auto [it, added] = seen.emplace(NormalName(sheets[i].Path), i);
    if (added) continue;
    const size_t first = it->second;
    error = lines.empty()
                ? "sheets " + std::to_string(sheets[first].Number) + " and " +
                      std::to_string(sheets[i].Number) + " are both named " + sheets[i].Name
                : LineError(lines[i], sheets[i].Name + " is also the output of line " +
                                          std::to_string(lines[first]));
    return false;
  }
  return true;
}

// The corner `from` + `span`, moved by the last bits when rounding would
// make the window one cell short of `cells`.
double FarCorner(double from, long double span, long double cell, int64_t cells, int sign) {
  double corner = static_cast<double>(from + sign * span);
  for (int i = 0; i < 4; ++i) {
    const long double got = std::trunc(std::fabs(static_cast<long double>(corner) - from) / cell);
    if (got >= cells - 1) break;
    corner = std::nextafter(corner, sign > 0 ? HUGE_VAL : -HUGE_VAL);
  }
  return corner;
}

// Whether the grid's `cells` steps of `cell` from `first` meet one of the
// source's `count` cells along one axis, by the job's own arithmetic.
bool MeetsSource(double first, long double cell, int64_t cells, int sign, double origin,
                 double source_cell, uint32_t count) {
  const double last = static_cast<double>(first + sign * (cells - 1) * cell);
  uint32_t index = 0;
  if (!MapToIndex(last, origin, source_cell, sign, index)) return false;
  return !MapToIndex(first, origin, source_cell, sign, index) || index < count;
}

// Whole cells in `size` map units; 0 when it is not a whole number of them.
int64_t WholeCells(double size, double cell) {
  const long double cells = static_cast<long double>(size) / cell;
  if (!(cells >= 0.5) || !(cells <= Output::kMaxDimension)) return 0;
  const long double whole = std::nearbyint(cells);
  return std::fabs(cells - whole) <= 1e-9L * whole ? static_cast<int64_t>(whole) : 0;
}

}  // namespace

bool ParseShard(const std::string& text, Shard& shard) {
  const size_t slash = text.find('/');
  if (slash == std::string::npos) return false;
  int32_t k = 0, n = 0;
  if (!ParseInt32(text.substr(0, slash), k) || !ParseInt32(text.substr(slash + 1), n)) return false;
  if (n < 1 || k < 1 || k > n) return false;
  shard.Index = static_cast<uint32_t>(k);
  shard.Count = static_cast<uint32_t>(n);
  return true;
}

bool ParseSheetList(const std::string& text, const std::string& folder, std::vector<Sheet>& sheets,
                    std::string& error) {
  std::vector<Sheet> found;
  std::vector<size_t> line_numbers;
  size_t start = 0;
  // What spreadsheets put before the first line of a UTF-8 export.
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
  std::vector<std::string> fields;
  for (size_t number = 1; start < text.size() || number == 1; ++number) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string trimmed = StrTrimLeft(line);
    if (trimmed.empty() || trimmed[0] == '#') {
      if (end == text.size()) break;
      continue;
    }
    // Commas separate fields only where no semicolon or tab does; then the
    // decimal mark is ".", otherwise it may be either.
    const bool comma_decimal = line.find_first_of(";\t") != std::string::npos;
    std::string why;
    if (!SplitFields(line, comma_decimal ? "; \t" : ", \t", fields, why)) {
      error = LineError(number, why);
      return false;
    }
    if (fields.size() != 5) {
      error = LineError(number, "expected an output name and four corners, found " +
                                    std::to_string(fields.size()) + " fields");
      return false;
    }
    if (fields[0].empty()) {
      error = LineError(number, "the output name is empty");
      return false;
    }
    Sheet sheet;
    sheet.Number = found.size() + 1;
    sheet.Name = fields[0];
    sheet.Path = !sheet.Name.empty() && sheet.Name[0] == '/' ? sheet.Name : folder + sheet.Name;
    double* corners[4] = {&sheet.TopLeftX, &sheet.TopLeftY, &sheet.BotRightX, &sheet.BotRightY};
    for (int i = 0; i < 4; ++i) {
      *corners[i] = ParseField(fields[i + 1], comma_decimal);
      if (std::isnan(*corners[i])) {
        error = LineError(number, "\"" + fields[i + 1] + "\" is not a number");
        return false;
      }
    }
    found.push_back(sheet);
    line_numbers.push_back(number);
    if (end == text.size()) break;
  }
  if (!CheckDistinct(found, line_numbers, error)) return false;
  sheets = std::move(found);
  return true;
}

bool ReadSheetList(const std::string& file_name, std::vector<Sheet>& sheets, std::string& error) {
  OsFile file;
  int err = file.Open(file_name, FileAccess::kRead);
  std::string text;
  char buffer[65536];
  while (err == 0) {
    const ssize_t got = ::read(file.fd(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) err = errno;
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  if (err != 0) {
    error = file_name + ": " + SystemErrorText(err);
    return false;
  }
  if (!ParseSheetList(text, ExtractFileDir(file_name), sheets, error)) {
    error = file_name + " " + error;
    return false;
  }
  return true;
}

bool ExpandPattern(const std::string& pattern, size_t row, size_t col, double x, double y,
                   std::string& name) {
  name.clear();
  for (size_t i = 0; i < pattern.size();) {
    if (pattern[i] != '{') {
      name += pattern[i++];
      continue;
    }
    const size_t close = pattern.find('}', i);
    const std::string key =
        close == std::string::npos ? std::string() : pattern.substr(i + 1, close - i - 1);
    if (key == "row")
      name += std::to_string(row);
    else if (key == "col")
      name += std::to_string(col);
    else if (key == "x")
      name += FormatGeneral(x);
    else if (key == "y")
      name += FormatGeneral(y);
    else
      return false;
    i = close + 1;
  }
  return true;
}

bool MakeGrid(RasterReader& source, const GridOptions& grid, const Shard& shard,
              std::vector<Sheet>& sheets, size_t& outside, std::string& error) {
  sheets.clear();
  outside = 0;
  // The job steps both ways by the source's column spacing.
  const double cell = source.GetCellSizeX();
  if (!std::isfinite(cell) || cell <= 0) {
    error = "the source's cell size is not a positive number: " + FormatGeneral(cell);
    return false;
  }
  const int64_t across = WholeCells(grid.SheetX, cell);
  const int64_t down = WholeCells(grid.SheetY, cell);
  if (across == 0 || down == 0) {
    error = "DX and DY must each be a whole number of cells, 1 to 65535, of " +
            FormatGeneral(cell) + " map units";
    return false;
  }
  double left = grid.TopLeftX, top = grid.TopLeftY, right = grid.BotRightX, bottom = grid.BotRightY;
  if (!grid.HasArea) {
    const uint32_t width = source.GetWidth(), lines = source.GetLines();
    source.CellToMap(0, 0, left, top);
    source.CellToMap(width > 0 ? width - 1.0 : 0, lines > 0 ? lines - 1.0 : 0, right, bottom);
  }
  if (!std::isfinite(left) || !std::isfinite(top) || !std::isfinite(right) ||
      !std::isfinite(bottom)) {
    error = "the rectangle's corners must be finite numbers";
    return false;
  }
  const long double span_x = std::trunc(std::fabs(static_cast<long double>(right) - left) / cell);
  const long double span_y = std::trunc(std::fabs(static_cast<long double>(bottom) - top) / cell);
  const long double cols = std::ceil((span_x + 1) / across);
  const long double rows = std::ceil((span_y + 1) / down);
  if (!(cols * rows <= kMaxGridSheets)) {
    error = "the grid would have " + FormatGeneral(cols * rows) + " sheets, more than " +
            std::to_string(kMaxGridSheets);
    return false;
  }
  const size_t n_cols = static_cast<size_t>(cols), n_rows = static_cast<size_t>(rows);
  std::string name;
  if (!ExpandPattern(grid.Pattern, 1, 1, 0, 0, name)) {
    error = "PATTERN knows only {row}, {col}, {x} and {y}: " + grid.Pattern;
    return false;
  }
  auto has = [&grid](const char* key) { return grid.Pattern.find(key) != std::string::npos; };
  if ((n_cols > 1 && !has("{col}") && !has("{x}")) ||
      (n_rows > 1 && !has("{row}") && !has("{y}"))) {
    error =
        "PATTERN must tell the sheets apart with {row} and {col}, or {x} and {y}: " + grid.Pattern;
    return false;
  }
  const uint32_t width = source.GetWidth(), lines = source.GetLines();
  const double source_left = source.GetLeftX(), source_top = source.GetTopY();
  for (size_t r = 0; r < n_rows; ++r)
    for (size_t c = 0; c < n_cols; ++c) {
      Sheet sheet;
      sheet.Number = r * n_cols + c + 1;
      if (!shard.Has(sheet.Number)) continue;
      sheet.TopLeftX = static_cast<double>(left + static_cast<long double>(c) * grid.SheetX);
      sheet.TopLeftY = static_cast<double>(top - static_cast<long double>(r) * grid.SheetY);
      sheet.BotRightX =
          FarCorner(sheet.TopLeftX, static_cast<long double>(grid.SheetX) - cell, cell, across, +1);
      sheet.BotRightY =
          FarCorner(sheet.TopLeftY, static_cast<long double>(grid.SheetY) - cell, cell, down, -1);
      if (!MeetsSource(sheet.TopLeftX, cell, across, +1, source_left, source.GetCellSizeX(),
                       width) ||
          !MeetsSource(sheet.TopLeftY, cell, down, -1, source_top, source.GetCellSizeY(), lines)) {
        ++outside;
        continue;
      }
      ExpandPattern(grid.Pattern, r + 1, c + 1, sheet.TopLeftX, sheet.TopLeftY, sheet.Name);
      sheet.Path = sheet.Name;
      sheets.push_back(sheet);
    }
  return CheckDistinct(sheets, {}, error);
}

SheetBatch::~SheetBatch() = default;

bool SheetBatch::Open(const std::string& source_name) {
  source_name_ = source_name;
  source_ = std::make_unique<Source>();
  if (!source_->Open(source_name)) {
    ErrorText = source_->GetErrorText();
    if (ErrorText.empty()) ErrorText = "Cannot open " + source_name;
    return false;
  }
  format_ = source_->GetFormat();
  return true;
}

void SheetBatch::Run(const std::vector<Sheet>& sheets, uint32_t background, unsigned workers) {
  sheets_ = &sheets;
  background_ = background;
  next_ = 0;
  Written = Failed = 0;
  Aborted = false;
  total_cells_ = done_cells_ = 0;
  shown_percent_ = -1;
  const double cell = source_->GetCellSizeX();
  planned_.assign(sheets.size(), 0);
  for (size_t i = 0; i < sheets.size(); ++i) {
    const Sheet& s = sheets[i];
    const ExtractOptions area{s.TopLeftX, s.TopLeftY, s.BotRightX, s.BotRightY, 0};
    int32_t width = 0, lines = 0;
    std::string ignored;
    if (OutputSize(area, cell, width, lines, ignored))
      planned_[i] = uint64_t(width) * uint64_t(lines);
    total_cells_ += planned_[i];
  }
  start_time_ = NowDays();
  Busy = true;
  const size_t count = std::max<size_t>(1, std::min<size_t>(workers, sheets.size()));
  std::vector<std::thread> threads;
  for (size_t i = 1; i < count; ++i) threads.emplace_back([this] { Work(false); });
  Work(true);
  for (std::thread& t : threads) t.join();
  if (AbortRequested) Aborted = true;
  Busy = false;
}

void SheetBatch::Work(bool first) {
  // The first worker reads through the source opened for identification;
  // every other one opens its own reader, since reading moves the view.
  std::unique_ptr<Source> own;
  Source* source = first ? source_.get() : nullptr;
  for (;;) {
    if (AbortRequested) return;
    const size_t i = next_++;
    if (i >= sheets_->size()) return;
    if (!source) {
      own = std::make_unique<Source>();
      if (!own->OpenIdentified(source_name_, format_)) {
        const std::string text = own->GetErrorText();
        own.reset();
        Finish(i, 0, text.empty() ? "Cannot open " + source_name_ : text);
        continue;
      }
      source = own.get();
    }
    Cut(*source, i);
  }
}

void SheetBatch::Cut(Source& source, size_t index) {
  const Sheet& sheet = (*sheets_)[index];
  const std::filesystem::path folder = std::filesystem::path(sheet.Path).parent_path();
  if (!folder.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
      Finish(index, 0, "Cannot create the folder " + folder.string() + ": " + ec.message());
      return;
    }
  }
  ExtractOptions area{sheet.TopLeftX, sheet.TopLeftY, sheet.BotRightX, sheet.BotRightY,
                      background_};
  area.Compression = Compression;
  area.JpegQuality = JpegQuality;
  ExtractJob job(source_name_, sheet.Path, area, nullptr);
  job.UseSource(&source);
  job.SetsBusy = false;
  uint64_t counted = 0;  // cells of this sheet already in the progress
  job.OnProgress = [&](int, const std::string&, const std::string&) {
    const uint64_t done = uint64_t(job.CurrentRow + 1) * uint64_t(job.OutWidth);
    if (done > counted) {
      std::lock_guard lock(mutex_);
      AddCells(done - counted);
      counted = done;
    }
  };
  job.Run();
  Finish(index, counted, job.StatusText, job.MissesSource);
}

void SheetBatch::AddCells(uint64_t cells) {
  done_cells_ += cells;
  if (total_cells_ == 0 || !OnProgress) return;
  const uint64_t done = std::min(done_cells_, total_cells_);
  const int percent = static_cast<int>(done * 100 / total_cells_);
  if (percent == shown_percent_) return;
  shown_percent_ = percent;
  const double elapsed = NowDays() - start_time_;
  const double remaining = static_cast<double>(static_cast<long double>(elapsed) *
                                               (total_cells_ - done) / std::max<uint64_t>(done, 1));
  OnProgress(percent, FormatTimeSpan(elapsed), FormatTimeSpan(remaining));
}

void SheetBatch::Finish(size_t index, uint64_t counted, const std::string& status, bool missed) {
  std::lock_guard lock(mutex_);
  // A one-line sheet reports no progress, and a failed one stops early:
  // its cells count as done all the same.
  if (planned_[index] > counted) AddCells(planned_[index] - counted);
  const Sheet& sheet = (*sheets_)[index];
  if (status == "Successful Finish") {
    ++Written;
    if (missed && OnMiss) OnMiss(sheet);
  } else if (status == "User Abort") {
    Aborted = true;
  } else {
    ++Failed;
    if (OnFailure) OnFailure(sheet, status);
  }
}

}  // namespace clipra
