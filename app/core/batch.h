// Many sheets cut from one source in one run: a list of rectangles or a grid
// over one, shared out among worker threads, each sheet cut exactly as a
// single job would cut it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/core/job.h"

namespace clipra {

struct Sheet {
  size_t Number = 0;  // its place in the list or grid, from 1
  std::string Name;   // as the list or the pattern gives it
  std::string Path;   // the file written
  double TopLeftX = 0;
  double TopLeftY = 0;
  double BotRightX = 0;
  double BotRightY = 0;
};

// Sheets K, K + N, K + 2N, ... of a list or grid, K from 1 to N.
struct Shard {
  uint32_t Index = 1;
  uint32_t Count = 1;
  bool Has(size_t number) const { return number > 0 && (number - 1) % Count == Index - 1; }
};

// Parses "K/N" with 1 <= K <= N.
bool ParseShard(const std::string& text, Shard& shard);

// Reads a sheet list: per line an output name and the four corners. Names
// are taken relative to `folder` (empty, or ending in "/") unless absolute.
// False with "line N: ..." for the first malformed line; nothing is kept then.
bool ParseSheetList(const std::string& text, const std::string& folder, std::vector<Sheet>& sheets,
                    std::string& error);
// The same for a file; the error then starts with the file's name.
bool ReadSheetList(const std::string& file_name, std::vector<Sheet>& sheets, std::string& error);

struct GridOptions {
  double SheetX = 0;  // DX and DY, in map units
  double SheetY = 0;
  bool HasArea = false;  // otherwise the source's whole extent
  double TopLeftX = 0;
  double TopLeftY = 0;
  double BotRightX = 0;
  double BotRightY = 0;
  std::string Pattern;  // with {row}, {col}, {x}, {y}
};

// The sheets of `shard` covering the rectangle, row by row from its top-left
// corner. Sheets that lie wholly outside `source` are left out and counted
// in `outside`. False with `error` when the options do not make a grid.
bool MakeGrid(RasterReader& source, const GridOptions& grid, const Shard& shard,
              std::vector<Sheet>& sheets, size_t& outside, std::string& error);

// `pattern` with its placeholders filled in; false for an unknown one.
bool ExpandPattern(const std::string& pattern, size_t row, size_t col, double x, double y,
                   std::string& name);

class SheetBatch {
 public:
  SheetBatch() = default;
  ~SheetBatch();
  SheetBatch(const SheetBatch&) = delete;
  SheetBatch& operator=(const SheetBatch&) = delete;

  // Opens and identifies the source; false with ErrorText.
  bool Open(const std::string& source_name);
  Source& GetSource() { return *source_; }

  // Cuts `sheets` with up to `workers` threads and returns when all have
  // finished or AbortRequested has stopped them, each between two lines.
  // Sets Busy meanwhile.
  void Run(const std::vector<Sheet>& sheets, uint32_t background, unsigned workers);

  // Both run on a worker, one call at a time. The progress counts cells
  // over the whole batch.
  std::function<void(int percent, const std::string& elapsed, const std::string& remaining)>
      OnProgress;
  std::function<void(const Sheet& sheet, const std::string& text)> OnFailure;
  // A sheet written with background only: its rectangle misses the source.
  std::function<void(const Sheet& sheet)> OnMiss;

  // How TIFF sheets store their cells, and the quality of JPEG sheets.
  TiffCompression Compression = TiffCompression::kNone;
  int JpegQuality = kDefaultJpegQuality;
  std::string ErrorText;
  size_t Written = 0;
  size_t Failed = 0;
  bool Aborted = false;

 private:
  void Work(bool first);
  void Cut(Source& source, size_t index);
  // With mutex_ held.
  void AddCells(uint64_t cells);
  void Finish(size_t index, uint64_t counted, const std::string& status, bool missed = false);

  std::string source_name_;
  FormatCode format_ = FormatCode::kErs;
  std::unique_ptr<Source> source_;
  const std::vector<Sheet>* sheets_ = nullptr;
  uint32_t background_ = 0;
  std::atomic<size_t> next_{0};
  std::mutex mutex_;
  std::vector<uint64_t> planned_;  // each sheet's cells
  uint64_t total_cells_ = 0;
  uint64_t done_cells_ = 0;
  int shown_percent_ = -1;
  double start_time_ = 0;
};

}  // namespace clipra
