#include "app/core/job.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <vector>

#include "dataset/byte_order.h"
#include "dataset/cell_codec.h"
#include "dataset/identify.h"
#include "dataset/os_locale.h"
#include "dataset/utils.h"

namespace clipra {

std::atomic<bool> Busy{false};
std::atomic<bool> AbortRequested{false};

namespace {

int64_t WholeSeconds(double days) {
  const long double seconds = static_cast<long double>(days) * 60 * 60 * 24;
  int64_t s = 0;
  if (!RoundToInt64(seconds, s)) s = 0;
  return s;
}

std::string FormatSeconds(int64_t s) {
  const int64_t h = s / 3600;
  const int64_t m = (s - h * 3600) / 60;
  const int64_t sec = s - h * 3600 - m * 60;
  return std::to_string(h) + ":" + std::to_string(m) + ":" + std::to_string(sec);
}

}  // namespace

std::string FormatTimeSpan(double days) {
  return FormatSeconds(WholeSeconds(days));
}

bool OutputSize(const ExtractOptions& options, double cell_size, int32_t& width, int32_t& lines,
                std::string& error) {
  if (!std::isfinite(options.TopLeftX) || !std::isfinite(options.TopLeftY) ||
      !std::isfinite(options.BotRightX) || !std::isfinite(options.BotRightY)) {
    error = "The rectangle's corners must be finite numbers";
    return false;
  }
  if (!std::isfinite(cell_size) || cell_size <= 0) {
    error = "The source's cell size is not a positive number: " + FormatGeneral(cell_size);
    return false;
  }
  const long double w =
      std::trunc(std::fabs(static_cast<long double>(options.BotRightX) - options.TopLeftX) /
                 cell_size) +
      1;
  const long double l =
      std::trunc(std::fabs(static_cast<long double>(options.BotRightY) - options.TopLeftY) /
                 cell_size) +
      1;
  if (!(w <= Output::kMaxDimension) || !(l <= Output::kMaxDimension)) {
    error = "Output window too large: " + FormatGeneral(w) + " x " + FormatGeneral(l) +
            " cells (at most 65535 x 65535)";
    return false;
  }
  width = static_cast<int32_t>(w);
  lines = static_cast<int32_t>(l);
  return true;
}

namespace {

// Whether any output cell finds a source cell, by the rule the sampling uses.
bool ReachesSource(RasterReader& src, double origin_x, double origin_y, double cell_size,
                   int32_t width, int32_t lines) {
  auto any = [&](int32_t count, double origin, double step, double source_origin,
                 double source_cell, uint32_t source_count) {
    for (int32_t i = 0; i < count; ++i) {
      const double map = static_cast<double>(origin + step * static_cast<long double>(i));
      uint32_t index = 0;
      if (MapToIndex(map, source_origin, source_cell, step > 0 ? +1 : -1, index) &&
          index < source_count)
        return true;
    }
    return false;
  };
  return any(width, origin_x, cell_size, src.GetLeftX(), src.GetCellSizeX(), src.GetWidth()) &&
         any(lines, origin_y, -cell_size, src.GetTopY(), src.GetCellSizeY(), src.GetLines());
}

}  // namespace

ExtractJob::ExtractJob(const std::string& source_name, const std::string& output_name,
                       const ExtractOptions& options, ThreadHost* host)
    : WorkerThread(host), SourceName(source_name), OutputName(output_name), Options(options) {
  StatusText.clear();
  BgRed = static_cast<int32_t>(options.BgrColor & 0xFF);
  BgGreen = static_cast<int32_t>((options.BgrColor >> 8) & 0xFF);
  BgBlue = static_cast<int32_t>((options.BgrColor >> 16) & 0xFF);
}

ExtractJob::~ExtractJob() {
  WaitFor();
}

void ExtractJob::Run() {
  StartTime = NowDays();
  if (SetsBusy) Busy = true;
  StatusText = "Successful Finish";
  try {
    if (OpenSource(SourceName) && AdviseSource() && CreateOutput(OutputName)) {
      const Georeference source = SourceData->GetGeoreference();
      OutputData->SetGeoreference({.CellSizeX = CellSize,
                                   .CellSizeY = CellSize,
                                   .RegX = OriginX,
                                   .RegY = OriginY,
                                   .Spheroid = source.Spheroid,
                                   .Datum = source.Datum,
                                   .Projection = source.Projection});
      MaxRow = OutLines - 1;
      const bool aborted = CellByCell ? SampleCellByCell() : SampleIndexed();
      RasterReader& reader = *SourceData->GetReader();
      if (aborted)
        StatusText = "User Abort";
      else if (!reader.ReadFailure.empty())
        StatusText = reader.ReadFailure;
      else if (!OutputData->Finish([] { return AbortRequested.load(); }))
        StatusText = "User Abort";
      else
        Note = reader.Note;
      MissesSource = StatusText == "Successful Finish" &&
                     !ReachesSource(reader, OriginX, OriginY, CellSize, OutWidth, OutLines);
    }
  } catch (const std::bad_alloc&) {
    StatusText = "Out of memory";
  } catch (const std::exception& e) {
    StatusText = e.what();
  } catch (...) {
    StatusText = "Unexpected error";
  }
  // The output first: freeing the writer completes its file.
  OutputData.reset();
  SourceData = nullptr;
  own_source_.reset();
  if (SetsBusy) Busy = false;
}

bool ExtractJob::OpenSource(const std::string& file_name) {
  try {
    if (given_source_) {
      SourceData = given_source_;
    } else {
      own_source_ = std::make_unique<Source>();
      SourceData = own_source_.get();
      if (!SourceData->Open(file_name)) {
        StatusText = SourceData->GetErrorText();
        if (StatusText.empty()) StatusText = "Cannot open " + file_name;
        return false;
      }
    }
    CellSize = SourceData->GetCellSizeX();
    OriginX = Options.TopLeftX;
    OriginY = Options.TopLeftY;
    return OutputSize(Options, CellSize, OutWidth, OutLines, StatusText);
  } catch (const DatasetError& e) {
    StatusText = e.what();
    return false;
  }
}

bool ExtractJob::CreateOutput(const std::string& file_name) {
  if (file_name.empty()) {
    StatusText = "No output file name";
    return false;
  }
  const std::string ext = ExtractFileExt(file_name);
  const uint32_t bands = SourceData->GetBands();
  const CellType cell_type = SourceData->GetCellType();
  if (ext == ".tif") {
    if (bands > 3) {
      StatusText = "TIFF files do not support more than 3 bands";
      return false;
    }
    // Every integer and float cell has a TIFF form; bits, packed colours and
    // point pairs have none.
    if (cell_type == CellType::kOneBit || cell_type == CellType::kRgb24 ||
        cell_type > CellType::kFloat64) {
      StatusText = "TIFF files do not support word cells";
      return false;
    }
  }
  if (ext == ".bmp") {
    if (bands > 3) {
      StatusText = "BMP files do not support more than 3 bands";
      return false;
    }
    if (cell_type != CellType::kUnsigned8) {
      StatusText = "BMP files support only byte data";
      return false;
    }
  }
  if (const std::string refusal = OutputRefusal(file_name, static_cast<uint32_t>(OutWidth),
                                                static_cast<uint32_t>(OutLines), cell_type, bands);
      !refusal.empty()) {
    StatusText = refusal;
    return false;
  }
  // Creating the output would truncate the source under its reader, or
  // rewrite its header. Every file of the output is checked, under
  // whatever name, before anything is created.
  std::vector<std::string> source_files = SourceData->GetReader()->Files();
  source_files.insert(source_files.begin(), SourceName);
  const std::vector<std::string> output_files = OutputFiles(file_name);
  for (const std::string& source_file : source_files)
    for (const std::string& output_file : output_files) {
      std::error_code ec;
      if (std::filesystem::equivalent(output_file, source_file, ec)) {
        StatusText = "The output would overwrite the source's file: " + source_file;
        return false;
      }
    }
  try {
    OutputData = std::make_unique<Output>(
        file_name, static_cast<uint32_t>(OutWidth), static_cast<uint32_t>(OutLines), cell_type,
        static_cast<int32_t>(bands), 1,
        WriteOptions{.Compression = Options.Compression, .JpegQuality = Options.JpegQuality});
    // Before any cell: a TIFF writer makes its file anew for the tag.
    if (const std::optional<double> no_data = SourceData->NoData()) OutputData->SetNoData(*no_data);
  } catch (const DatasetError& e) {
    StatusText = e.what();
    return false;
  }
  return true;
}

bool ExtractJob::LineEnd(int32_t row) {
  if (AbortRequested) return true;
  CurrentRow = row;
  if (MaxRow == 0) return false;
  // The window is told only when what it shows changes, and the worker
  // goes on meanwhile: a round trip to its thread for every line would cost
  // more than many lines.
  Progress now;
  now.Percent =
      static_cast<int>(RoundHalfEven(static_cast<long double>(CurrentRow) / MaxRow * 100.0L));
  const double elapsed = NowDays() - StartTime;
  const double remaining = static_cast<double>(static_cast<long double>(MaxRow - CurrentRow) *
                                               elapsed / (CurrentRow + 1));
  now.Elapsed = WholeSeconds(elapsed);
  now.Remaining = WholeSeconds(remaining);
  if (now.Percent == Shown.Percent && now.Elapsed == Shown.Elapsed &&
      now.Remaining == Shown.Remaining)
    return false;
  const bool first = !ShownAny;
  ShownAny = true;
  Shown = now;
  auto show = [this, percent = now.Percent, elapsed_text = FormatSeconds(now.Elapsed),
               remaining_text = FormatSeconds(now.Remaining)] {
    if (OnProgress) OnProgress(percent, elapsed_text, remaining_text);
  };
  // The first report waits for the window, so a stop pressed as the run
  // appears still finds the job running; later ones carry their values and
  // the worker goes on.
  if (first)
    Synchronize(show);
  else
    Queue(std::move(show));
  return false;
}

bool ExtractJob::AdviseSource() {
  RasterReader& src = *SourceData->GetReader();
  const uint32_t width = src.GetWidth();
  const uint32_t lines = src.GetLines();
  // Rows and columns grow with the output's lines and columns, so the first
  // and the last inside the source bound the block.
  auto span = [](int32_t count, uint32_t size, auto index_of, uint32_t& first, uint32_t& last) {
    bool any = false;
    for (int32_t i = 0; i < count; ++i) {
      uint32_t index = 0;
      if (!index_of(i, index) || index >= size) continue;
      if (!any) first = index;
      last = index;
      any = true;
    }
    return any;
  };
  const double left = src.GetLeftX();
  const double cell_x = src.GetCellSizeX();
  const double top = src.GetTopY();
  const double cell_y = src.GetCellSizeY();
  uint32_t first_col = 0, last_col = 0, first_line = 0, last_line = 0;
  const bool cols = span(
      OutWidth, width,
      [&](int32_t c, uint32_t& index) {
        const double map_x = static_cast<double>(static_cast<long double>(c) * CellSize + OriginX);
        return MapToIndex(map_x, left, cell_x, +1, index);
      },
      first_col, last_col);
  const bool rows = span(
      OutLines, lines,
      [&](int32_t r, uint32_t& index) {
        const double map_y = static_cast<double>(OriginY - static_cast<long double>(r) * CellSize);
        return MapToIndex(map_y, top, cell_y, -1, index);
      },
      first_line, last_line);
  if (!cols || !rows || first_col > last_col || first_line > last_line) return true;
  if (SourceData->AdviseRead(first_col, first_line, last_col, last_line)) return true;
  StatusText = SourceData->GetErrorText();
  if (StatusText.empty()) StatusText = "Cannot read " + SourceName;
  return false;
}

double ExtractJob::EmptyValue() const {
  return OutputData->NoData().value_or(0.0);
}

bool ExtractJob::SampleCellByCell() {
  const bool colour = SourceData->GetBands() == 3;
  const double empty = EmptyValue();
  for (int32_t r = 0; r < OutLines; ++r) {
    const double map_y = static_cast<double>(OriginY - static_cast<long double>(r) * CellSize);
    for (int32_t c = 0; c < OutWidth; ++c) {
      const double map_x = static_cast<double>(static_cast<long double>(c) * CellSize + OriginX);
      const uint32_t x = static_cast<uint32_t>(c);
      const uint32_t y = static_cast<uint32_t>(r);
      if (colour) {
        float red = 0, green = 0, blue = 0;
        if (SourceData->GetValue(0, red, map_x, map_y, 0)) {
          SourceData->GetValue(1, green, map_x, map_y, 0);
          SourceData->GetValue(2, blue, map_x, map_y, 0);
        } else {
          red = static_cast<float>(BgRed);
          green = static_cast<float>(BgGreen);
          blue = static_cast<float>(BgBlue);
        }
        OutputData->PutValue(x, y, 0, red);
        OutputData->PutValue(x, y, 1, green);
        OutputData->PutValue(x, y, 2, blue);
      } else {
        for (uint32_t b = 0; b < SourceData->GetBands(); ++b) {
          // Cells the source does not cover take its no-data value, or 0.
          float v = 0;
          const bool found = SourceData->GetValue(b, v, map_x, map_y, 0);
          OutputData->PutValue(x, y, b, found ? v : empty);
        }
      }
    }
    if (LineEnd(r)) return true;
  }
  return false;
}

namespace {

constexpr int64_t kNoCell = -1;

// Whether cells may be copied as bytes where the reader offers runs of
// stored cells: the writer stores cells by index, and the cell type
// survives the trip through a float unchanged.
bool CanCopyBytes(const RasterReader& src, const RasterWriter& dst) {
  if (!dst.StoresByIndex()) return false;
  if (src.StoredCellType() != dst.StoredCellType() || dst.IsMSBFirstOrder() || dst.Mode() != 1)
    return false;
  return src.StoredCellType() == CellType::kUnsigned8 ||
         src.StoredCellType() == CellType::kSigned16 ||
         src.StoredCellType() == CellType::kUnsigned16;
}

// Where the writer stores the cells of `line` and `band`: the first one's
// byte and the step from cell to cell. False when the run is not an evenly
// spaced run inside the file; such a line is written cell by cell.
bool WriterRun(RasterWriter& dst, uint32_t line, uint32_t band, uint32_t width, uint32_t cell_bytes,
               uint8_t*& first, uint64_t& step) {
  uint64_t i0 = 0, i1 = 0, last = 0;
  if (width == 0 || dst.Data() == nullptr || !dst.StoredIndex(0, line, band, i0) ||
      !dst.StoredIndex(width - 1, line, band, last))
    return false;
  uint64_t di = 0;
  if (width > 1) {
    if (!dst.StoredIndex(1, line, band, i1) || i1 <= i0) return false;
    di = i1 - i0;
    if (last != i0 + uint64_t{width - 1} * di) return false;
  }
  if (last >= dst.FileSize() / cell_bytes) return false;
  first = dst.Data() + i0 * cell_bytes;
  step = di * cell_bytes;
  return true;
}

// Copies `n` cells of one or two bytes, each side with its own step.
void CopyStrided(uint8_t* to, uint64_t to_step, const uint8_t* from, uint64_t from_step, uint64_t n,
                 uint32_t cell_bytes) {
  if (cell_bytes == 1) {
    for (uint64_t k = 0; k < n; ++k, to += to_step, from += from_step) *to = *from;
  } else {
    for (uint64_t k = 0; k < n; ++k, to += to_step, from += from_step) std::memcpy(to, from, 2);
  }
}

}  // namespace

bool ExtractJob::SampleIndexed() {
  RasterReader& src = *SourceData->GetReader();
  RasterWriter& dst = *OutputData->GetWriter();
  const uint32_t bands = SourceData->GetBands();
  const bool colour = bands == 3;
  const float background[3] = {static_cast<float>(BgRed), static_cast<float>(BgGreen),
                               static_cast<float>(BgBlue)};
  // Uncovered cells of other sources: the no-data value, or 0.
  const double empty = EmptyValue();

  // The source column of every output column, with the arithmetic of GetValue.
  const double left = src.GetLeftX();
  const double cell_x = src.GetCellSizeX();
  std::vector<int64_t> columns(static_cast<size_t>(OutWidth));
  for (int32_t c = 0; c < OutWidth; ++c) {
    const double map_x = static_cast<double>(static_cast<long double>(c) * CellSize + OriginX);
    uint32_t index = 0;
    columns[c] = MapToIndex(map_x, left, cell_x, +1, index) ? index : kNoCell;
  }
  const bool copy_bytes = CanCopyBytes(src, dst);
  std::vector<bool> covered(copy_bytes && colour ? static_cast<size_t>(OutWidth) : 0);
  const uint32_t cell_bytes = copy_bytes ? CellTypeSize(src.StoredCellType()) : 0;
  // From each output column, how many columns on read consecutive source
  // columns: such a stretch is copied as one block of bytes.
  std::vector<uint32_t> consecutive(copy_bytes ? static_cast<size_t>(OutWidth) : 0);
  int64_t first_col = -1, last_col = -1;
  for (int32_t c = copy_bytes ? OutWidth - 1 : -1; c >= 0; --c) {
    if (columns[c] == kNoCell) continue;
    if (first_col < 0) last_col = columns[c];
    first_col = columns[c];
    const bool next = c + 1 < OutWidth && columns[c + 1] == columns[c] + 1;
    consecutive[c] = next ? consecutive[c + 1] + 1 : 1;
  }
  const uint64_t source_width = src.GetWidth();
  // The stored cells of a line, used only when they hold every column read
  // (those past their end lie outside the source).
  auto span = [&](uint32_t row, uint32_t band, uint64_t& step, uint32_t& begin,
                  uint32_t& end) -> const uint8_t* {
    const uint8_t* p = src.CellSpan(row, band, step, begin, end);
    if (!p || first_col < 0) return p;
    if (begin > first_col || (end <= last_col && end < source_width)) return nullptr;
    return p;
  };

  for (int32_t r = 0; r < OutLines; ++r) {
    const double map_y = static_cast<double>(OriginY - static_cast<long double>(r) * CellSize);
    uint32_t row = 0;
    const bool row_ok = MapToIndex(map_y, src.GetTopY(), src.GetCellSizeY(), -1, row);
    const uint32_t y = static_cast<uint32_t>(r);

    if (copy_bytes) {
      // In colour a cell is covered when band 0 has it; the others follow.
      int64_t covered_end = -1;  // band 0's stored cells end here, when it has a run
      if (colour) {
        uint64_t step = 0;
        uint32_t begin = 0, end = 0;
        const uint8_t* run = row_ok ? span(row, 0, step, begin, end) : nullptr;
        if (run) {
          covered_end = end;
        } else {
          for (int32_t c = 0; c < OutWidth; ++c) {
            const int64_t col = columns[c];
            float v = 0;
            covered[c] =
                row_ok && col != kNoCell && src.GetCell(static_cast<uint32_t>(col), row, 0, v);
          }
        }
      }
      // With band 0's run, a column is covered when it lies before its end.
      auto is_covered = [&](int32_t c) {
        const int64_t col = columns[c];
        if (!row_ok || col == kNoCell) return false;
        return covered_end >= 0 ? col < covered_end : bool(covered[c]);
      };
      for (uint32_t b = 0; b < bands; ++b) {
        uint8_t* out = nullptr;
        uint64_t out_step = 0;
        const bool out_run =
            WriterRun(dst, y, b, static_cast<uint32_t>(OutWidth), cell_bytes, out, out_step);
        uint64_t in_step = 0;
        uint32_t begin = 0, end = 0;
        // GetCell may move the reader's view, so a run is used only when
        // every cell of the line goes through it.
        const uint8_t* in = row_ok && out_run ? span(row, b, in_step, begin, end) : nullptr;
        const bool as_block = in && in_step == cell_bytes && out_step == cell_bytes &&
                              (cell_bytes == 1 || src.LSBFirst) && (!colour || covered_end >= 0);
        // Interleaved cells on either side: the run is copied cell by cell
        // in a tight loop instead.
        const bool strided =
            in && !as_block && (cell_bytes == 1 || src.LSBFirst) && (!colour || covered_end >= 0);
        // What SetCell would store for the empty and the background cells.
        // `fill` has room for the widest cell EncodeCell writes, although a
        // run only ever copies one or two bytes of it.
        uint8_t fill[4] = {0, 0, 0, 0};
        uint8_t outside[4] = {0, 0, 0, 0};
        const double fill_value = colour ? background[b] : empty;
        // Past the end of a line's run lies the source's edge; in colour
        // such a cell keeps the 0 it always had.
        const double outside_value = colour ? 0.0 : empty;
        if (out_run) {
          EncodeCell(fill, dst.StoredCellType(), fill_value, !dst.IsMSBFirstOrder());
          EncodeCell(outside, dst.StoredCellType(), outside_value, !dst.IsMSBFirstOrder());
        }
        auto put_empty = [&](uint32_t x, const uint8_t* bytes, double value) {
          if (out_run)
            std::memcpy(out + uint64_t{x} * out_step, bytes, cell_bytes);
          else
            dst.SetCell(x, y, b, value);
        };
        for (int32_t c = 0; c < OutWidth; ++c) {
          const int64_t col = columns[c];
          const uint32_t x = static_cast<uint32_t>(c);
          if (colour ? !is_covered(c) : !(row_ok && col != kNoCell)) {
            put_empty(x, fill, fill_value);
          } else if (in) {
            if (col >= end) {
              put_empty(x, outside, outside_value);
              continue;
            }
            const uint8_t* from = in + uint64_t(col - begin) * in_step;
            uint8_t* to = out + uint64_t(c) * out_step;
            if (as_block || strided) {
              const int64_t stop = colour ? std::min<int64_t>(end, covered_end) : end;
              const int64_t n = std::min<int64_t>(consecutive[c], stop - col);
              if (n > 1) {
                if (as_block)
                  std::memcpy(to, from, static_cast<size_t>(n) * cell_bytes);
                else
                  CopyStrided(to, out_step, from, in_step, static_cast<uint64_t>(n), cell_bytes);
                c += static_cast<int32_t>(n) - 1;
                continue;
              }
            }
            if (cell_bytes == 1) {
              *to = *from;
            } else if (src.LSBFirst) {
              std::memcpy(to, from, 2);
            } else {
              to[0] = from[1];
              to[1] = from[0];
            }
          } else {
            float v = 0;
            const bool found = src.GetCell(static_cast<uint32_t>(col), row, b, v);
            dst.SetCell(x, y, b, found ? v : outside_value);
          }
        }
      }
    } else {
      for (int32_t c = 0; c < OutWidth; ++c) {
        const int64_t col = columns[c];
        const bool covered = row_ok && col != kNoCell;
        const uint32_t x = static_cast<uint32_t>(c);
        if (colour) {
          float rgb[3] = {0, 0, 0};
          float v = 0;
          if (covered && src.GetCell(static_cast<uint32_t>(col), row, 0, v)) {
            rgb[0] = v;
            for (uint32_t b = 1; b < 3; ++b)
              if (src.GetCell(static_cast<uint32_t>(col), row, b, v)) rgb[b] = v;
          } else {
            std::memcpy(rgb, background, sizeof rgb);
          }
          for (uint32_t b = 0; b < 3; ++b) dst.SetCell(x, y, b, rgb[b]);
        } else {
          for (uint32_t b = 0; b < bands; ++b) {
            float v = 0;
            const bool found = covered && src.GetCell(static_cast<uint32_t>(col), row, b, v);
            dst.SetCell(x, y, b, found ? v : empty);
          }
        }
      }
    }
    if (LineEnd(r)) return true;
  }
  return false;
}

}  // namespace clipra
