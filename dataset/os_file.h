// The platform's files and memory mappings. Everything else reaches the
// operating system through these few calls.
#pragma once

#include <cstdint>
#include <string>

namespace clipra {

// The system's message text for an error code.
std::string SystemErrorText(int code);

enum class FileAccess {
  kRead,       // existing file, read only, others may read
  kReadWrite,  // existing file, read and write
  kCreate,     // new or truncated file, read and write
};

// An open file descriptor; closes on destruction.
class OsFile {
 public:
  OsFile() = default;
  ~OsFile() { Close(); }
  OsFile(OsFile&& other) noexcept
      : fd_(other.fd_), listed_(other.listed_), device_(other.device_), inode_(other.inode_) {
    other.fd_ = -1;
    other.listed_ = false;
  }
  OsFile& operator=(OsFile&& other) noexcept;
  OsFile(const OsFile&) = delete;
  OsFile& operator=(const OsFile&) = delete;

  // Each returns 0 or the system's error code. Creating (truncating) a file
  // that this process holds open for reading fails with EBUSY: the
  // truncation would destroy the cells under a reader's mapped view, and
  // the reader's next touch of them would end the process.
  int Open(const std::string& path, FileAccess access);
  int Size(uint64_t& size) const;
  // Gives the file exactly `size` bytes and reserves them on disk, so that a
  // full disk is an error here rather than a fault when a page is stored.
  int Reserve(uint64_t size);
  void Close();

  bool IsOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  // Files opened for reading are listed process-wide by device and inode.
  bool listed_ = false;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
};

// The granularity of view offsets.
constexpr uint64_t kViewGranularity = 65536;

// One mapped view of a file; unmaps on destruction.
class MappedView {
 public:
  MappedView() = default;
  ~MappedView() { Unmap(); }
  MappedView(MappedView&& other) noexcept;
  MappedView& operator=(MappedView&& other) noexcept;
  MappedView(const MappedView&) = delete;
  MappedView& operator=(const MappedView&) = delete;

  // Maps `length` bytes at `offset` (a multiple of kViewGranularity).
  // Returns 0 or the system's error code.
  int Map(const OsFile& file, uint64_t offset, uint64_t length, bool writable);
  void Unmap();

  uint8_t* data() const { return data_; }
  uint64_t size() const { return size_; }

 private:
  uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
};

}  // namespace clipra
