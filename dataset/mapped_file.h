// Buffered file for readers: a sliding memory-mapped view over a file of any
// size, and raster addressing on top of it.
#pragma once

#include <cstdint>
#include <string>

#include "dataset/identify.h"
#include "dataset/os_file.h"

namespace clipra {

// A random-access file read through a view that slides along it on demand.
// After a successful MapAt, `Need` bytes from `Current` lie inside both the
// view and the file, and so does every byte up to the end of the view.
class MappedFile {
 public:
  static constexpr uint64_t kDefaultViewSize = 134217728;  // 128 MiB

  MappedFile() = default;
  virtual ~MappedFile() { Close(); }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  bool Open(const std::string& file_name, uint8_t mode, uint64_t size);
  void Close();
  bool MapAt();

  // Maps `need` bytes at `position`; nullptr (with LastError/ErrorText) when
  // they do not all lie inside the file.
  const uint8_t* At(uint64_t position, uint32_t need);
  // Bytes addressable from Current up to the end of the view.
  uint64_t Available() const;

  std::string FileName;
  uint8_t Mode = 0;
  uint64_t FileSize = 0;
  uint64_t MaxViewSize = kDefaultViewSize;
  uint64_t ViewSize = kDefaultViewSize;
  uint8_t* View = nullptr;
  uint64_t ViewOffset = 0;
  uint64_t Position = 0;
  uint32_t Need = 8;
  bool Remap = false;
  uint8_t* Current = nullptr;
  uint32_t LastError = 0;
  std::string ErrorText;
  int64_t FirstLine = 0;
  int64_t EndLine = -1;

 protected:
  OsFile file_;
  MappedView view_;
};

// A raster of Width cells per line, Lines lines and Bands bands of one cell
// type, band-interleaved by line.
class MappedRaster : public MappedFile {
 public:
  bool OpenRaster(const std::string& file_name, uint32_t width, uint32_t lines, CellType cell_type,
                  uint32_t bands, uint8_t mode, bool msb_first);

  virtual bool SeekLine(uint32_t line, uint32_t band);
  virtual bool GetCell(uint32_t x, uint32_t y, uint32_t band, float& value);
  virtual bool SetCell(uint32_t x, uint32_t y, uint32_t band, float value);
  virtual bool GetRGB(uint32_t x, uint32_t y, uint32_t& color);
  virtual bool SetRGB(uint32_t x, uint32_t y, uint32_t color);

  bool Get4Cells(uint32_t x, uint32_t y, float values[4], uint32_t band);
  bool GetBilinear(uint32_t band, float& value, double x, double y);

  void SetByteOrder(bool msb_first) { LSBFirst = !msb_first; }
  bool IsMSBFirstOrder() const { return !LSBFirst; }

  // Bytes per cell for addressing; bit cells are addressed as bytes.
  uint32_t CellBytes() const;
  // The stored cells of `band` on `line`: the first one's byte and the step
  // to its neighbour, for the first `count` cells. For x < count,
  // GetCell(x, line, band) succeeds and reads the cell at first + x * step as
  // CellType in the reader's byte order; for x >= count it fails. Valid until
  // the reader is next used. nullptr when the reader does not keep the cells
  // so, or the line cannot be read; GetCell must be asked then.
  virtual const uint8_t* CellRun(uint32_t line, uint32_t band, uint64_t& step, uint32_t& count);
  // Like CellRun for a reader that keeps only part of a line: the stored
  // cells [begin, end) of `band` on `line`, the pointer addressing cell
  // `begin`. Cells outside the span may still exist; GetCell tells. The
  // default is CellRun's run with begin 0 and end `count`.
  virtual const uint8_t* CellSpan(uint32_t line, uint32_t band, uint64_t& step, uint32_t& begin,
                                  uint32_t& end);

  // True when GetCell reads the plain band-interleaved layout of this class,
  // so that callers may address lines directly through SeekLine/Current. A
  // reader that keeps this layout says so; one that overrides the cell
  // access must not.
  virtual bool HasPlainLayout() const { return false; }

  // The cell type the stored cells are addressed and decoded as.
  CellType StoredCellType() const { return cell_type_; }

  uint32_t Width = 0;
  uint32_t Lines = 0;
  uint32_t Bands = 0;
  uint64_t CellCount = 0;
  bool LSBFirst = true;
  uint64_t LineSize = 0;
  uint8_t* LineStart = nullptr;
  // Bytes before the first cell in the file (an ER Mapper HeaderOffset).
  uint64_t DataOffset = 0;

 protected:
  CellType cell_type_ = CellType::kOneBit;
};

}  // namespace clipra
