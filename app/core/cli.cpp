#include "app/core/cli.h"

#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <limits>
#include <optional>
#include <sstream>
#include <thread>

#include "app/core/batch.h"
#include "app/core/command_line.h"
#include "app/core/job.h"
#include "dataset/control_points.h"
#include "dataset/identify.h"
#include "dataset/projection_table.h"
#include "dataset/utils.h"

namespace clipra {

namespace {

constexpr const char* kVersion = "Clipra Utility ver 1.00";

constexpr const char* kUsage =
    "Usage: clipra-cli [options] SOURCE OUTPUT\n"
    "       clipra-cli [-B...] [-j N] [--shard K/N] --sheets LIST SOURCE\n"
    "       clipra-cli [-B...] [-j N] [--shard K/N] --grid DX:DY [-A...] SOURCE PATTERN\n"
    "       clipra-cli --info SOURCE\n"
    "\n"
    "Cuts a rectangle, given in the source's map coordinates, out of SOURCE and\n"
    "writes it to OUTPUT in the format that OUTPUT's extension selects\n"
    "(.ers, .tif, .bmp, .jpg, .jpeg, .dtm, .001; any other name gives an\n"
    "OrthoSetData raster).\n"
    "\n"
    "Options (\"/\" works as well as \"-\", letters in either case):\n"
    "  -A<TopLeftX>:<TopLeftY>:<BotRightX>:<BotRightY>\n"
    "                 the rectangle (required)\n"
    "  -B<red>:<green>:<blue>\n"
    "                 background for cells outside a three-band source, each\n"
    "                 0 to 255 (default 0:0:0)\n"
    "  --sheets LIST  cut every sheet of LIST, one a line: an output name, then\n"
    "                 TopLeftX TopLeftY BotRightX BotRightY, separated by commas\n"
    "                 (\".\" decimals), semicolons or tabs (\".\" or \",\"), or blanks;\n"
    "                 names are relative to LIST's folder\n"
    "  --grid DX:DY   cover the rectangle, or the whole source without -A, with\n"
    "                 sheets of DX x DY map units named by PATTERN, in which\n"
    "                 {row}, {col}, {x} and {y} stand for each sheet's place\n"
    "  --compress lzw|deflate|zstd\n"
    "                 write TIFF outputs in compressed 256 x 256 tiles\n"
    "  --jpeg-quality N\n"
    "                 the quality of JPEG outputs, 1 to 100 (default 90)\n"
    "  -j N           cut N sheets at once (default: the number of cores)\n"
    "  --shard K/N    only sheets K, K+N, K+2N, ... of the list or grid\n"
    "  --info SOURCE  describe SOURCE: size, cell type, georeference\n"
    "  --help         this text\n"
    "  --version      the program's version\n"
    "\n"
    "Exit status: 0 finished (every sheet written), 1 failed (any sheet failed),\n"
    "2 usage error, 130 stopped by Ctrl-C.\n";

void OnInterrupt(int) {
  AbortRequested = true;
}

int UsageError(std::ostream& err, const std::string& text) {
  err << "clipra-cli: " << text << "\n"
      << "Try 'clipra-cli --help'.\n";
  return kExitUsage;
}

// Parses "r:g:b" with each part a whole number from 0 to 255.
bool ParseColour(const std::string& text, uint32_t& colour) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t colon = text.find(':', start);
    parts.push_back(text.substr(start, colon == std::string::npos ? colon : colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (parts.size() != 3) return false;
  colour = 0;
  for (int i = 0; i < 3; ++i) {
    int32_t v = 0;
    if (!ParseInt32(parts[i], v) || v < 0 || v > 255) return false;
    colour |= static_cast<uint32_t>(v) << (8 * i);
  }
  return true;
}

// Parses a --compress value, in either case.
bool ParseCompression(const std::string& text, TiffCompression& compression) {
  static const struct {
    const char* name;
    TiffCompression value;
  } kNames[] = {{"LZW", TiffCompression::kLzw},
                {"DEFLATE", TiffCompression::kDeflate},
                {"ZSTD", TiffCompression::kZstd}};
  for (const auto& n : kNames)
    if (UpperCase(text) == n.name) {
      compression = n.value;
      return true;
    }
  return false;
}

// Compression is a TIFF matter: any other output would silently ignore it.
bool IsTiffName(const std::string& name) {
  return IdentifyForCreate(name) == FormatCode::kTif;
}

// The quality is a JPEG matter in the same way.
bool IsJpegName(const std::string& name) {
  return OutputFormat(name) == FormatCode::kJpg;
}

// Draws the progress: a bar on a terminal, otherwise a line every 10 %.
class ProgressPrinter {
 public:
  ProgressPrinter(std::ostream& err, bool terminal) : err_(err), terminal_(terminal) {}

  void Show(int percent, const std::string& elapsed, const std::string& remaining) {
    if (terminal_) {
      const int filled = percent / 5;
      err_ << "\r[" << std::string(filled, '#') << std::string(20 - filled, ' ') << "] ";
      char pct[8];
      std::snprintf(pct, sizeof pct, "%3d%%", percent);
      err_ << pct << "  Elapsed Time " << elapsed << "  Remaining Time " << remaining << "   "
           << std::flush;
      drawn_ = true;
    } else if (percent / 10 > last_decile_) {
      last_decile_ = percent / 10;
      err_ << percent << "%  Elapsed Time " << elapsed << "  Remaining Time " << remaining << "\n";
    }
  }

  // A line of its own, below the bar.
  void Message(const std::string& text) {
    Finish();
    drawn_ = false;
    err_ << text << "\n" << std::flush;
  }

  void Finish() {
    if (drawn_) err_ << "\n";
  }

 private:
  std::ostream& err_;
  bool terminal_;
  bool drawn_ = false;
  int last_decile_ = 0;
};

std::string Number(double v) {
  return FormatGeneral(v);
}

// Ctrl-C sets AbortRequested while the guard lives, even when the caller
// started us with it blocked.
class InterruptGuard {
 public:
  InterruptGuard() {
    AbortRequested = false;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous_);
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_UNBLOCK, &interrupt, &previous_mask_);
  }
  ~InterruptGuard() {
    pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
    sigaction(SIGINT, &previous_, nullptr);
  }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  struct sigaction previous_ {};
  sigset_t previous_mask_{};
};

// What the command line asks of a run of many sheets.
struct BatchRequest {
  std::string list;  // --sheets
  bool grid = false;
  GridOptions grid_options;
  bool has_workers = false;
  unsigned workers = 0;
  bool has_shard = false;
  Shard shard;
  bool has_jpeg_quality = false;
  bool Wanted() const { return !list.empty() || grid; }
};

int RunBatch(const BatchRequest& request, const std::string& source, const ExtractOptions& options,
             std::ostream& out, std::ostream& err, bool err_is_terminal) {
  std::vector<Sheet> sheets;
  std::string error;
  if (!request.list.empty()) {
    if (!ReadSheetList(request.list, sheets, error)) {
      err << "clipra-cli: " << error << "\n";
      return kExitUsage;
    }
    std::vector<Sheet> taken;
    for (Sheet& sheet : sheets)
      if (request.shard.Has(sheet.Number)) taken.push_back(std::move(sheet));
    sheets = std::move(taken);
    for (const Sheet& sheet : sheets) {
      if (options.Compression != TiffCompression::kNone && !IsTiffName(sheet.Path))
        return UsageError(err, "--compress goes with TIFF outputs only: " + sheet.Name);
      if (request.has_jpeg_quality && !IsJpegName(sheet.Path))
        return UsageError(err, "--jpeg-quality goes with JPEG outputs only: " + sheet.Name);
    }
  }
  SheetBatch batch;
  if (!batch.Open(source)) {
    err << batch.ErrorText << "\n";
    return kExitFailure;
  }
  size_t outside = 0;
  if (request.grid && !MakeGrid(*batch.GetSource().GetReader(), request.grid_options, request.shard,
                                sheets, outside, error))
    return UsageError(err, error);

  unsigned workers = request.workers;
  if (!request.has_workers) workers = std::max(1u, std::thread::hardware_concurrency());
  ProgressPrinter progress(err, err_is_terminal);
  batch.OnProgress = [&progress](int percent, const std::string& elapsed,
                                 const std::string& remaining) {
    progress.Show(percent, elapsed, remaining);
  };
  auto about = [](const Sheet& sheet) {
    return "sheet " + std::to_string(sheet.Number) + " (" + sheet.Name + "): ";
  };
  batch.OnFailure = [&](const Sheet& sheet, const std::string& text) {
    progress.Message(about(sheet) + text);
  };
  batch.OnMiss = [&](const Sheet& sheet) {
    progress.Message(about(sheet) + "warning: the rectangle lies outside the source");
  };
  {
    InterruptGuard guard;
    batch.Compression = options.Compression;
    batch.JpegQuality = options.JpegQuality;
    batch.Run(sheets, options.BgrColor, workers);
  }
  progress.Finish();
  if (batch.Aborted) err << "User Abort\n";
  if (outside > 0)
    out << outside << (outside == 1 ? " sheet lies" : " sheets lie")
        << " outside the source: skipped\n";
  out << batch.Written << " of " << sheets.size() << " sheets written";
  if (batch.Failed > 0) out << ", " << batch.Failed << " failed";
  out << "\n";
  if (batch.Aborted) return kExitAborted;
  return batch.Failed > 0 ? kExitFailure : kExitSuccess;
}

}  // namespace

bool PrintInfo(const std::string& source, std::ostream& out, std::ostream& err) {
  Source data;
  if (!data.Open(source)) {
    err << "clipra-cli: " << data.GetErrorText() << "\n";
    return false;
  }
  RasterReader& r = *data.GetReader();
  const CellType cell_type = r.GetCellType();
  const std::string type_name = CellTypeName(cell_type);
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  r.CellToMap(0, 0, x0, y0);
  const uint32_t width = r.GetWidth();
  const uint32_t lines = r.GetLines();
  r.CellToMap(width > 0 ? width - 1.0 : 0.0, lines > 0 ? lines - 1.0 : 0.0, x1, y1);
  const ControlPointList* points = r.GetControlPoints();
  out << "Format:          " << FormatName(IdentifyExisting(source)) << "\n"
      << "Width:           " << width << "\n"
      << "Lines:           " << lines << "\n"
      << "Bands:           " << r.GetBands() << "\n"
      << "Cell type:       " << (type_name.empty() ? "unknown" : type_name) << "\n"
      << "Byte order:      " << (r.IsMSBFirst() ? "MSBFirst" : "LSBFirst") << "\n"
      << "Cell size X:     " << Number(r.GetCellSizeX()) << "\n"
      << "Cell size Y:     " << Number(r.GetCellSizeY()) << "\n"
      << "First cell X Y:  " << Number(x0) << " " << Number(y0) << "\n"
      << "Last cell X Y:   " << Number(x1) << " " << Number(y1) << "\n"
      << "Datum:           " << r.GetGeoreference().Datum << "\n"
      << "Projection:      " << r.GetGeoreference().Projection << "\n"
      << "Spheroid:        " << r.GetGeoreference().Spheroid << "\n";
  if (const uint32_t epsg =
          EpsgFromErMapper(r.GetGeoreference().Projection, r.GetGeoreference().Datum);
      epsg != 0)
    out << "EPSG code:       " << epsg << "\n";
  if (const std::optional<double> no_data = r.NoData())
    out << "No-data value:   " << FormatShortest(*no_data) << "\n";
  out << "Control points:  " << (points ? points->Count() : 0) << "\n";
  return true;
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool err_is_terminal) {
  std::vector<std::string> rest;
  BatchRequest batch;
  ExtractOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i];
    std::string value;
    // "-j4" as well as "-j 4", as make takes it.
    if (a.size() > 2 && a.rfind("-j", 0) == 0) {
      value = a.substr(2);
      a = "-j";
    } else if (a == "--sheets" || a == "--grid" || a == "--shard" || a == "-j" ||
               a == "--compress" || a == "--jpeg-quality") {
      if (i + 1 == args.size()) return UsageError(err, a + " needs a value");
      value = args[++i];
    }
    if (a == "--compress") {
      if (!ParseCompression(value, options.Compression))
        return UsageError(err, "--compress takes lzw, deflate or zstd, not " + value);
      continue;
    }
    if (a == "--jpeg-quality") {
      int32_t n = 0;
      if (!ParseInt32(value, n) || n < 1 || n > 100)
        return UsageError(err, "--jpeg-quality takes a number from 1 to 100");
      options.JpegQuality = n;
      batch.has_jpeg_quality = true;
      continue;
    }
    if (a == "--sheets" || a == "--grid" || a == "--shard" || a == "-j") {
      if (a == "--sheets") {
        if (value.empty()) return UsageError(err, "--sheets needs a file name");
        batch.list = value;
      } else if (a == "--grid") {
        const size_t colon = value.find(':');
        const long double nan = std::numeric_limits<long double>::quiet_NaN();
        const double dx = static_cast<double>(ParseFloatDef(value.substr(0, colon), nan));
        const double dy = colon == std::string::npos
                              ? dx
                              : static_cast<double>(ParseFloatDef(value.substr(colon + 1), nan));
        if (colon == std::string::npos || !(dx > 0) || !(dy > 0) || !std::isfinite(dx) ||
            !std::isfinite(dy))
          return UsageError(err, "--grid takes DX:DY, two positive sizes in map units");
        batch.grid = true;
        batch.grid_options.SheetX = dx;
        batch.grid_options.SheetY = dy;
      } else if (a == "--shard") {
        if (!ParseShard(value, batch.shard))
          return UsageError(err, "--shard takes K/N with K from 1 to N");
        batch.has_shard = true;
      } else {
        int32_t n = 0;
        if (!ParseInt32(value, n) || n < 1 || n > 1024)
          return UsageError(err, "-j takes a number of workers from 1 to 1024");
        batch.has_workers = true;
        batch.workers = static_cast<unsigned>(n);
      }
      continue;
    }
    if (a == "--help" || a == "-h") {
      out << kUsage;
      return kExitSuccess;
    }
    if (a == "--version") {
      out << kVersion << "\n";
      return kExitSuccess;
    }
    if (a == "--info") {
      if (i + 2 != args.size()) return UsageError(err, "--info takes exactly one SOURCE");
      return PrintInfo(args[i + 1], out, err) ? kExitSuccess : kExitFailure;
    }
    if (a.rfind("--", 0) == 0) return UsageError(err, "unknown option " + a);
    rest.push_back(a);
  }

  const CommandLine cl = ParseCommandLine(rest, FileExists);
  for (const CommandLineOption& opt : cl.options) {
    switch (opt.letter) {
      case 'A': {
        // Text that is not a number, or a missing corner, would silently
        // clip at 0. Empty fields are skipped, as the parser skips them.
        static const char* const kCorners[] = {"TopLeftX", "TopLeftY", "BotRightX", "BotRightY"};
        size_t found = 0, start = 0;
        while (found < 4 && start <= opt.rest.size()) {
          const size_t end = std::min(opt.rest.find(':', start), opt.rest.size());
          const std::string field = opt.rest.substr(start, end - start);
          start = end + 1;
          if (field.empty()) continue;
          if (std::isnan(static_cast<double>(ParseFloatDef(field, NAN))))
            return UsageError(err, std::string(kCorners[found]) + " is not a number: " + field);
          ++found;
        }
        if (found < 4)
          return UsageError(err, "-A takes <TopLeftX>:<TopLeftY>:<BotRightX>:<BotRightY>");
        break;
      }
      case 'F':
        break;
      case 'B':
        if (!ParseColour(opt.rest, options.BgrColor))
          return UsageError(err, "-B takes <red>:<green>:<blue>, each from 0 to 255");
        break;
      default:
        // A "/" parameter is an option only because no file has its name.
        return UsageError(err, "unknown option " + opt.text +
                                   (opt.text[0] == '/' ? " (no file of that name exists)" : ""));
    }
  }
  if (!cl.extra_files.empty())
    return UsageError(err, "too many file names: " + cl.extra_files.front());
  if (!batch.list.empty() && batch.grid)
    return UsageError(err, "give --sheets or --grid, not both");
  if (!batch.Wanted() && (batch.has_workers || batch.has_shard))
    return UsageError(err, "-j and --shard go with --sheets or --grid");
  if (!batch.list.empty()) {
    if (cl.has_area) return UsageError(err, "the sheet list gives the rectangles: no -A");
    if (cl.in_file.empty()) return UsageError(err, "give a SOURCE");
    if (!cl.out_name.empty()) return UsageError(err, "too many file names: " + cl.out_name);
    return RunBatch(batch, cl.in_file, options, out, err, err_is_terminal);
  }
  if (cl.in_file.empty() || cl.out_name.empty())
    return UsageError(err,
                      batch.grid ? "give a SOURCE and a PATTERN" : "give a SOURCE and an OUTPUT");
  if (options.Compression != TiffCompression::kNone && !IsTiffName(cl.out_name))
    return UsageError(err, "--compress goes with TIFF outputs only: " + cl.out_name);
  if (batch.has_jpeg_quality && !IsJpegName(cl.out_name))
    return UsageError(err, "--jpeg-quality goes with JPEG outputs only: " + cl.out_name);
  if (batch.grid) {
    GridOptions& grid = batch.grid_options;
    grid.HasArea = cl.has_area;
    grid.TopLeftX = cl.top_left_x;
    grid.TopLeftY = cl.top_left_y;
    grid.BotRightX = cl.bot_right_x;
    grid.BotRightY = cl.bot_right_y;
    grid.Pattern = cl.out_name;
    return RunBatch(batch, cl.in_file, options, out, err, err_is_terminal);
  }
  if (!cl.has_area) return UsageError(err, "give the rectangle with -A");
  options.TopLeftX = cl.top_left_x;
  options.TopLeftY = cl.top_left_y;
  options.BotRightX = cl.bot_right_x;
  options.BotRightY = cl.bot_right_y;

  // There is no display thread to hand the progress to: the main thread only
  // waits, so the job's synchronous calls run on the worker itself. A round
  // trip between two threads for every line would cost more than the clip.
  ProgressPrinter progress(err, err_is_terminal);
  ExtractJob job(cl.in_file, cl.out_name, options, nullptr);
  job.OnProgress = [&progress](int percent, const std::string& elapsed,
                               const std::string& remaining) {
    progress.Show(percent, elapsed, remaining);
  };
  {
    InterruptGuard guard;
    job.Start();
    job.WaitFor();
  }
  progress.Finish();

  const std::string status = job.StatusText;
  if (status == "Successful Finish") {
    if (job.MissesSource) err << "clipra-cli: warning: the rectangle lies outside the source\n";
    out << status << ": " << cl.out_name << "\n";
    if (!job.Note.empty()) out << "Note: " << job.Note << "\n";
    return kExitSuccess;
  }
  err << status << "\n";
  return status == "User Abort" ? kExitAborted : kExitFailure;
}

}  // namespace clipra
