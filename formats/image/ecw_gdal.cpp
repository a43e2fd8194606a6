// The ECW decoder on top of GDAL's C library, found at run time: nothing
// links against GDAL, and no GDAL header is needed. Users whose GDAL has an
// ECW driver read ECW files; everyone else gets a message saying what is missing.
#include <dlfcn.h>

#include <string>
#include <vector>

#include "formats/image/ecw.h"

namespace clipra {

namespace {

// The few GDAL C functions used, declared by hand. Handles are opaque pointers.
using GdalHandle = void*;
using ErrorHandler = void (*)(int error_class, int error_number, const char* message);

constexpr int kGdalRead = 0;                       // GF_Read
constexpr int kGdalByte = 1;                       // GDT_Byte
constexpr int kGdalNone = 0;                       // CE_None
constexpr unsigned kGdalOpenRaster = 0x02 | 0x40;  // GDAL_OF_RASTER | GDAL_OF_VERBOSE_ERROR

struct GdalApi {
  void (*AllRegister)() = nullptr;
  GdalHandle (*GetDriverByName)(const char*) = nullptr;
  GdalHandle (*OpenEx)(const char*, unsigned, const char* const*, const char* const*,
                       const char* const*) = nullptr;
  int (*GetRasterXSize)(GdalHandle) = nullptr;
  int (*GetRasterYSize)(GdalHandle) = nullptr;
  int (*GetRasterCount)(GdalHandle) = nullptr;
  int (*GetGeoTransform)(GdalHandle, double*) = nullptr;
  GdalHandle (*GetRasterBand)(GdalHandle, int) = nullptr;
  int (*RasterIO)(GdalHandle, int, int, int, int, int, void*, int, int, int, int, int) = nullptr;
  void (*Close)(GdalHandle) = nullptr;
  const char* (*GetLastErrorMsg)() = nullptr;
  void (*ErrorReset)() = nullptr;
  void (*PushErrorHandler)(ErrorHandler) = nullptr;
  void (*PopErrorHandler)() = nullptr;
  ErrorHandler QuietErrorHandler = nullptr;

  std::string library;  // the name that loaded
  std::string failure;  // why nothing is usable; empty when loaded
};

template <typename F>
bool Bind(void* library, const char* name, F& function, std::string& missing) {
  function = reinterpret_cast<F>(::dlsym(library, name));
  if (function == nullptr) missing += std::string(missing.empty() ? "" : ", ") + name;
  return function != nullptr;
}

GdalApi LoadGdal() {
  GdalApi api;
  // The unversioned name comes with the development package; the runtime
  // packages have only versioned ones.
  std::vector<std::string> names = {"libgdal.so"};
  for (int so = 40; so >= 20; --so) names.push_back("libgdal.so." + std::to_string(so));
  void* library = nullptr;
  for (const std::string& name : names) {
    library = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library != nullptr) {
      api.library = name;
      break;
    }
  }
  if (library == nullptr) {
    api.failure = "the GDAL library is not installed (libgdal.so could not be loaded)";
    return api;
  }
  // GDAL stays loaded for the rest of the process: unloading it is not supported.
  std::string missing;
  Bind(library, "GDALAllRegister", api.AllRegister, missing);
  Bind(library, "GDALGetDriverByName", api.GetDriverByName, missing);
  Bind(library, "GDALOpenEx", api.OpenEx, missing);
  Bind(library, "GDALGetRasterXSize", api.GetRasterXSize, missing);
  Bind(library, "GDALGetRasterYSize", api.GetRasterYSize, missing);
  Bind(library, "GDALGetRasterCount", api.GetRasterCount, missing);
  Bind(library, "GDALGetGeoTransform", api.GetGeoTransform, missing);
  Bind(library, "GDALGetRasterBand", api.GetRasterBand, missing);
  Bind(library, "GDALRasterIO", api.RasterIO, missing);
  Bind(library, "GDALClose", api.Close, missing);
  Bind(library, "CPLGetLastErrorMsg", api.GetLastErrorMsg, missing);
  Bind(library, "CPLErrorReset", api.ErrorReset, missing);
  Bind(library, "CPLPushErrorHandler", api.PushErrorHandler, missing);
  Bind(library, "CPLPopErrorHandler", api.PopErrorHandler, missing);
  Bind(library, "CPLQuietErrorHandler", api.QuietErrorHandler, missing);
  if (!missing.empty()) {
    api.failure = api.library + " lacks " + missing;
    return api;
  }
  api.AllRegister();
  return api;
}

const GdalApi& Gdal() {
  static const GdalApi api = LoadGdal();
  return api;
}

// Keeps GDAL's messages off the console while a call runs; they are
// fetched with GetLastErrorMsg instead.
class QuietGdal {
 public:
  explicit QuietGdal(const GdalApi& api) : api_(api) {
    api_.PushErrorHandler(api_.QuietErrorHandler);
    api_.ErrorReset();
  }
  ~QuietGdal() { api_.PopErrorHandler(); }
  QuietGdal(const QuietGdal&) = delete;
  QuietGdal& operator=(const QuietGdal&) = delete;
  std::string LastMessage() const {
    const char* m = api_.GetLastErrorMsg();
    return m != nullptr ? m : "";
  }

 private:
  const GdalApi& api_;
};

class GdalEcwDecoder : public EcwDecoder {
 public:
  explicit GdalEcwDecoder(bool require_ecw_driver) : require_ecw_driver_(require_ecw_driver) {}
  ~GdalEcwDecoder() override { CloseFileView(true); }

  int OpenFileView(const std::string& file_name) override {
    CloseFileView(true);
    const GdalApi& api = Gdal();
    if (!api.failure.empty()) return Fail(kEcwLibraryMissing, api.failure);
    if (require_ecw_driver_ && api.GetDriverByName("ECW") == nullptr)
      return Fail(kEcwDriverMissing, "the GDAL here (" + api.library +
                                         ") has no ECW driver; reading ECW files needs a GDAL "
                                         "built with the ECW SDK");
    static const char* const kEcwOnly[] = {"ECW", nullptr};
    QuietGdal quiet(api);
    dataset_ = api.OpenEx(file_name.c_str(), kGdalOpenRaster,
                          require_ecw_driver_ ? kEcwOnly : nullptr, nullptr, nullptr);
    if (dataset_ == nullptr)
      return Fail(kEcwFileOpenFailed, "GDAL cannot open " + file_name + ": " + quiet.LastMessage());
    info_ = EcwFileInfo{};
    const int width = api.GetRasterXSize(dataset_);
    const int lines = api.GetRasterYSize(dataset_);
    const int bands = api.GetRasterCount(dataset_);
    info_.Width = width > 0 ? static_cast<uint32_t>(width) : 0;
    info_.Lines = lines > 0 ? static_cast<uint32_t>(lines) : 0;
    info_.Bands = bands > 0 ? static_cast<uint16_t>(bands > 65535 ? 65535 : bands) : 0;
    // Without a georeference GDAL answers the raw grid (0, 1, 0, 0, 0, 1).
    double geo[6] = {0, 1, 0, 0, 0, 1};
    api.GetGeoTransform(dataset_, geo);
    info_.OriginX = geo[0];
    info_.CellIncrementX = geo[1];
    info_.OriginY = geo[3];
    info_.CellIncrementY = geo[5];
    return kEcwSuccess;
  }

  EcwFileInfo GetViewFileInfo() override { return info_; }

  int SetFileView(const std::vector<uint32_t>& bands, uint32_t top_left_x, uint32_t top_left_y,
                  uint32_t bottom_right_x, uint32_t bottom_right_y, uint32_t out_width,
                  uint32_t out_lines) override {
    if (dataset_ == nullptr) return Fail(kEcwInvalidView, "no file is open");
    // Only the whole image at full resolution is offered.
    if (bands.empty() || top_left_x != 0 || top_left_y != 0 || info_.Width == 0 ||
        info_.Lines == 0 || bottom_right_x != info_.Width - 1 ||
        bottom_right_y != info_.Lines - 1 || out_width != info_.Width || out_lines != info_.Lines)
      return Fail(kEcwInvalidView, "only the whole image at full resolution can be read");
    for (uint32_t b : bands)
      if (b >= info_.Bands)
        return Fail(kEcwInvalidView, "band " + std::to_string(b) + " is not in the file");
    // One band gives grey in all three colours; two give red and green, the
    // second repeated as blue.
    const GdalApi& api = Gdal();
    for (size_t c = 0; c < 3; ++c) {
      const uint32_t band = bands[c < bands.size() ? c : bands.size() - 1];
      rgb_[c] = api.GetRasterBand(dataset_, static_cast<int>(band) + 1);
      if (rgb_[c] == nullptr)
        return Fail(kEcwInvalidView, "band " + std::to_string(band) + " cannot be read");
    }
    next_line_ = 0;
    return kEcwSuccess;
  }

  int ReadViewLineRGB(uint8_t* rgb) override {
    if (dataset_ == nullptr || rgb_[0] == nullptr || next_line_ >= info_.Lines) {
      Fail(kEcwReadFailed, "no line left to read");
      return 1;
    }
    const GdalApi& api = Gdal();
    QuietGdal quiet(api);
    const int width = static_cast<int>(info_.Width);
    const int line = static_cast<int>(next_line_);
    for (int c = 0; c < 3; ++c) {
      if (api.RasterIO(rgb_[c], kGdalRead, 0, line, width, 1, rgb + c, width, 1, kGdalByte, 3,
                       3 * width) != kGdalNone) {
        Fail(kEcwReadFailed, "line " + std::to_string(line) + ": " + quiet.LastMessage());
        return 1;
      }
    }
    ++next_line_;
    return 0;
  }

  void CloseFileView(bool /*free_cache*/) override {
    if (dataset_ != nullptr) Gdal().Close(dataset_);
    dataset_ = nullptr;
    rgb_[0] = rgb_[1] = rgb_[2] = nullptr;
  }

  std::string GetErrorText(int code) override {
    return code == last_code_ && !last_text_.empty() ? last_text_ : EcwErrorDescription(code);
  }

 private:
  int Fail(int code, const std::string& text) {
    last_code_ = code;
    last_text_ = text;
    return code;
  }

  bool require_ecw_driver_;
  GdalHandle dataset_ = nullptr;
  GdalHandle rgb_[3] = {nullptr, nullptr, nullptr};
  EcwFileInfo info_;
  uint32_t next_line_ = 0;
  int last_code_ = kEcwSuccess;
  std::string last_text_;
};

}  // namespace

std::unique_ptr<EcwDecoder> CreateGdalEcwDecoder() {
  return std::make_unique<GdalEcwDecoder>(true);
}

std::unique_ptr<EcwDecoder> CreateGdalDecoderForTesting() {
  return std::make_unique<GdalEcwDecoder>(false);
}

}  // namespace clipra
