// Buffered file for writers: the whole file mapped as one view, addressed as
// a flat array of cells, and raster addressing on top of it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "dataset/identify.h"
#include "dataset/os_file.h"

namespace clipra {

class MappedOutputFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class MappedOutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class MappedOutputFile {
 public:
  // Raises MappedOutputFileError "No file name" for an empty name. Opens nothing.
  MappedOutputFile(const std::string& file_name, CellType cell_type, uint8_t mode, bool msb_first);
  virtual ~MappedOutputFile();
  MappedOutputFile(const MappedOutputFile&) = delete;
  MappedOutputFile& operator=(const MappedOutputFile&) = delete;

  bool OpenRead();
  bool OpenReadWrite();
  // A file that is not `named` is a scratch file: made in the folder of
  // FileName, it has no name there once mapped, and goes when it closes.
  bool CreateNew(uint64_t count, bool named = true);

  bool GetValue(uint64_t index, double& value) const;
  bool SetValue(uint64_t index, double value);

  void SetByteOrder(bool msb_first) { lsb_first_ = !msb_first; }
  bool IsMSBFirstOrder() const { return !lsb_first_; }
  // The cell type the file's cells are addressed and encoded as.
  CellType StoredCellType() const { return cell_type_; }

  const std::string& FileName() const { return file_name_; }
  uint64_t FileSize() const { return file_size_; }
  // Cells the file holds.
  uint64_t Count() const { return count_; }
  // The mapped file; nullptr while none is mapped.
  uint8_t* Data() const { return data_; }
  uint8_t Mode() const { return mode_; }
  // The system's code of the last failure to open or create; 0 after success.
  uint32_t LastError() const { return last_error_; }

 protected:
  // Byte offset of a cell; false when it lies outside the file.
  bool CellOffset(uint64_t index, uint64_t& offset) const;
  double ReadCell(uint64_t index, uint64_t offset) const;
  void StoreCell(uint64_t index, uint64_t offset, double value);
  void CloseFile();

  CellType cell_type_;
  // False while the view is read-only, whatever Mode says.
  bool writable_ = false;

 private:
  bool OpenExisting(FileAccess access);

  std::string file_name_;
  uint64_t file_size_ = 0;
  uint64_t count_ = 0;
  bool lsb_first_ = true;
  uint8_t* data_ = nullptr;
  uint8_t mode_ = 0;
  uint32_t last_error_ = 0;

  OsFile file_;
  MappedView view_;
};

class MappedOutputRaster : public MappedOutputFile {
 public:
  // Raises MappedOutputError "MMapFile <n> Bands" or "MMapFile " + the MappedOutputFileError text.
  MappedOutputRaster(const std::string& file_name, uint16_t width, uint16_t lines,
                     CellType cell_type, int32_t bands, uint8_t mode, bool msb_first);

  virtual bool GetCell(uint32_t x, uint32_t y, uint32_t band, double& value);
  virtual bool SetCell(uint32_t x, uint32_t y, uint32_t band, double value);
  virtual bool GetNearest(uint32_t band, double& value, double x, double y);
  virtual bool Get4Cells(uint16_t x, uint16_t y, uint16_t band, double values[4]);
  virtual bool GetBilinear(uint32_t band, double& value, double x, double y);
  virtual uint8_t* LineAddress(uint16_t line, uint16_t band);
  // The flat index, as SetValue takes it, at which SetCell stores cell
  // (x, y, band); false outside the raster. A band beyond the last is the last.
  virtual bool StoredIndex(uint32_t x, uint32_t y, uint32_t band, uint64_t& index);
  // True when SetCell stores a cell exactly as SetValue at its StoredIndex
  // does, so that callers may fill runs of cells through the view. A writer
  // that stores its cells some other way must answer false.
  virtual bool StoresByIndex() const { return false; }

  int32_t Bands = 1;
  uint32_t Width = 0;
  uint32_t Lines = 0;

 protected:
  uint64_t CellIndex(uint32_t x, uint32_t y, uint32_t band) const {
    return (static_cast<uint64_t>(y) * Width * static_cast<uint64_t>(Bands) +
            static_cast<uint64_t>(band) * Width + x);
  }
};

}  // namespace clipra
