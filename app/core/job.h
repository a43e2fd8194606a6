// One extraction job: cuts a rectangle of map coordinates out of a source
// raster into a new raster, nearest cell by nearest cell, on a worker thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/core/worker_thread.h"
#include "dataset/output.h"
#include "dataset/source.h"

namespace clipra {

struct ExtractOptions {
  double TopLeftX = 0;
  double TopLeftY = 0;
  double BotRightX = 0;
  double BotRightY = 0;
  uint32_t BgrColor = 0;  // red in bits 0-7, green 8-15, blue 16-23
  // How a TIFF output stores its cells; other outputs ignore it.
  TiffCompression Compression = TiffCompression::kNone;
  // The quality of a JPEG output, 1 to 100.
  int JpegQuality = kDefaultJpegQuality;
};

// Shared with the window: set while a job runs, and the user's stop request.
extern std::atomic<bool> Busy;
extern std::atomic<bool> AbortRequested;

// "H:M:S" for a span in days.
std::string FormatTimeSpan(double days);

// The output's size in cells for `options` over a source of `cell_size`
// map units per cell, as the job sizes it: false with `error` set when the
// numbers allow no output.
bool OutputSize(const ExtractOptions& options, double cell_size, int32_t& width, int32_t& lines,
                std::string& error);

class ExtractJob : public WorkerThread {
 public:
  // Copies the three; call Start once OnTerminate is attached.
  ExtractJob(const std::string& source_name, const std::string& output_name,
             const ExtractOptions& options, ThreadHost* host);
  ~ExtractJob() override;

  // Runs on the host thread after a finished line that changes what it is
  // given: the percentage or the whole seconds of either time.
  std::function<void(int percent, const std::string& elapsed, const std::string& remaining)>
      OnProgress;
  // Samples every cell through the facades' GetValue and PutValue instead
  // of the indexed path; the output is the same byte for byte.
  bool CellByCell = false;
  // Whether Run sets and clears Busy. A batch running many jobs at once
  // sets it once for all of them.
  bool SetsBusy = true;

  std::string SourceName;
  std::string OutputName;
  ExtractOptions Options;
  // The source being read: the job's own, or one handed to UseSource.
  Source* SourceData = nullptr;
  std::unique_ptr<Output> OutputData;
  int32_t OutLines = 0;
  int32_t OutWidth = 0;
  double CellSize = 1.0;
  double OriginX = 0;
  double OriginY = 0;
  double StartTime = 0;
  int32_t MaxRow = 0;
  int32_t CurrentRow = -1;
  int32_t BgRed = 0;
  int32_t BgGreen = 0;
  int32_t BgBlue = 0;
  std::string StatusText;
  // Set by a finished run whose rectangle found no cell of the source: the
  // output then holds only background.
  bool MissesSource = false;
  // After a successful clip, what the source's reader wants the user to
  // know (GeoTIFF tags that its world file overrode); empty when nothing.
  std::string Note;

  // Reads `source`, already open on SourceName, instead of opening it;
  // the job neither opens nor closes it. Jobs on other threads need a
  // Source of their own: a reader moves its view as it reads.
  void UseSource(Source* source) { given_source_ = source; }
  // Runs the whole job on the calling thread; Execute calls it.
  void Run();
  bool OpenSource(const std::string& file_name);
  bool CreateOutput(const std::string& file_name);
  // Tells the source which block of cells the clip reads; false, with
  // StatusText, when the source already knows it cannot read them.
  bool AdviseSource();

 protected:
  void Execute() override { Run(); }

 private:
  // Both end with true when the user stopped the job.
  bool SampleCellByCell();
  bool SampleIndexed();
  bool LineEnd(int32_t row);
  // What cells the source does not cover hold, outside the colour path:
  // the output's no-data value, or 0 without one.
  double EmptyValue() const;

  // What OnProgress was last given.
  // What the window was last told, in whole seconds.
  struct Progress {
    int Percent = -1;
    int64_t Elapsed = -1;
    int64_t Remaining = -1;
  };
  Progress Shown;
  bool ShownAny = false;
  Source* given_source_ = nullptr;
  std::unique_ptr<Source> own_source_;
};

}  // namespace clipra
