// The platform's files and memory mappings. Everything else reaches the
// operating system through these few calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace clipra {

// The system's message text for an error code.
std::string SystemErrorText(int code);

enum class FileAccess {
  kRead,       // existing file, read only, others may read
  kReadWrite,  // existing file, read and write
  kCreate,     // new file, read and write, that takes its name on Commit
};

// An open file descriptor; closes on destruction.
class OsFile {
 public:
  OsFile() = default;
  ~OsFile() { Close(); }
  OsFile(OsFile&& other) noexcept
      : fd_(other.fd_),
        listed_(other.listed_),
        device_(other.device_),
        inode_(other.inode_),
        pending_(std::move(other.pending_)),
        target_(std::move(other.target_)) {
    other.fd_ = -1;
    other.listed_ = false;
    other.pending_.clear();
  }
  OsFile& operator=(OsFile&& other) noexcept;
  OsFile(const OsFile&) = delete;
  OsFile& operator=(const OsFile&) = delete;

  // Each returns 0 or the system's error code. Creating a file that this
  // process holds open for reading fails with EBUSY: the reader's cells
  // must stay as they are. A created file is built under a temporary name
  // in the folder of `path`; until Commit an existing file of that name
  // stays as it was, and closing before Commit removes the new file, so a
  // creation that fails half way (a full disk) leaves nothing behind.
  int Open(const std::string& path, FileAccess access);
  // Gives a created file its name, replacing any file of that name.
  int Commit();
  // Removes a created file's temporary name instead: the descriptor and its
  // views keep the data until they close, and nothing is left behind even
  // when the process dies.
  int Unlink();
  int Size(uint64_t& size) const;
  // Gives the file exactly `size` bytes and reserves them on disk, so that a
  // full disk is an error here rather than a fault when a page is stored.
  int Reserve(uint64_t size);
  // Writes all `size` bytes at the file's position.
  int Write(const void* data, size_t size);
  void Close();

  bool IsOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }

 private:
  int Create(const std::string& path);

  int fd_ = -1;
  // Files opened for reading are listed process-wide by device and inode.
  bool listed_ = false;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
  // A created file not yet committed: its temporary path and its name.
  std::string pending_;
  std::string target_;
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

// The machine's physical memory in bytes; UINT64_MAX when it cannot be told.
uint64_t PhysicalMemory();

}  // namespace clipra
