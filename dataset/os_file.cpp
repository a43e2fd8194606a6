#include "dataset/os_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace clipra {

namespace {

// The files this process holds open without truncating them, with how
// many times each is open.
std::mutex& ListMutex() {
  static std::mutex m;
  return m;
}

std::map<std::pair<uint64_t, uint64_t>, int>& OpenFiles() {
  static std::map<std::pair<uint64_t, uint64_t>, int> files;
  return files;
}

bool IsOpenHere(const struct stat& st) {
  const std::lock_guard<std::mutex> lock(ListMutex());
  return OpenFiles().count({static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)}) !=
         0;
}

}  // namespace

std::string SystemErrorText(int code) {
  char buf[256];
  // The GNU strerror_r returns a pointer that may or may not be `buf`.
  const char* text = strerror_r(code, buf, sizeof buf);
  return text ? text : "Unknown error";
}

OsFile& OsFile::operator=(OsFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    listed_ = other.listed_;
    device_ = other.device_;
    inode_ = other.inode_;
    pending_ = std::move(other.pending_);
    target_ = std::move(other.target_);
    other.fd_ = -1;
    other.listed_ = false;
    other.pending_.clear();
  }
  return *this;
}

int OsFile::Open(const std::string& path, FileAccess access) {
  Close();
  if (access == FileAccess::kCreate) return Create(path);
  const int flags = O_CLOEXEC | (access == FileAccess::kRead ? O_RDONLY : O_RDWR);
  const int fd = ::open(path.c_str(), flags);
  if (fd < 0) return errno;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    return err;
  }
  fd_ = fd;
  device_ = static_cast<uint64_t>(st.st_dev);
  inode_ = static_cast<uint64_t>(st.st_ino);
  const std::lock_guard<std::mutex> lock(ListMutex());
  ++OpenFiles()[{device_, inode_}];
  listed_ = true;
  return 0;
}

int OsFile::Create(const std::string& path) {
  // A symbolic link keeps pointing where it did: the file behind it is replaced.
  std::string target = path;
  struct stat link {};
  if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    std::error_code ec;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, ec);
    if (!ec) target = resolved.string();
  }
  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists) {
    if (IsOpenHere(existing)) return EBUSY;
    if (S_ISDIR(existing.st_mode)) return EISDIR;
    // Replacing a file needs only its folder's permission; overwriting it
    // has always needed its own.
    if (::access(target.c_str(), W_OK) != 0) return errno;
  }
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temporary = folder + ".clipra-" + std::to_string(::getpid()) + "-" +
                                  std::to_string(counter++) + ".part";
    const int fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return errno;
    }
    // The new file keeps the permissions of the one it replaces.
    if (exists) ::fchmod(fd, existing.st_mode & 07777);
    fd_ = fd;
    pending_ = temporary;
    target_ = target;
    return 0;
  }
  return EEXIST;
}

int OsFile::Commit() {
  if (pending_.empty()) return 0;
  if (::rename(pending_.c_str(), target_.c_str()) != 0) return errno;
  pending_.clear();
  return 0;
}

int OsFile::Unlink() {
  if (pending_.empty()) return 0;
  if (::unlink(pending_.c_str()) != 0) return errno;
  pending_.clear();
  return 0;
}

int OsFile::Size(uint64_t& size) const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return errno;
  size = static_cast<uint64_t>(st.st_size);
  return 0;
}

namespace {

// A file-size limit must come back as EFBIG, not end the process.
void IgnoreFileSizeSignal() {
  static std::once_flag ignore_xfsz;
  std::call_once(ignore_xfsz, [] { std::signal(SIGXFSZ, SIG_IGN); });
}

}  // namespace

int OsFile::Reserve(uint64_t size) {
  IgnoreFileSizeSignal();
  if (size > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) return EFBIG;
  const off_t length = static_cast<off_t>(size);
  if (::ftruncate(fd_, length) != 0) return errno;
  if (length == 0) return 0;
  int err = ::posix_fallocate(fd_, 0, length);
  if (err == 0) return 0;
  if (err != EOPNOTSUPP && err != EINVAL) return err;
  // The file system cannot reserve: write the zeros ourselves.
  std::vector<char> zeros(1 << 20, 0);
  off_t done = 0;
  while (done < length) {
    const size_t chunk =
        static_cast<size_t>(std::min<off_t>(length - done, static_cast<off_t>(zeros.size())));
    const ssize_t n = ::pwrite(fd_, zeros.data(), chunk, done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += n;
  }
  return 0;
}

int OsFile::Write(const void* data, size_t size) {
  IgnoreFileSizeSignal();
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd_, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

void OsFile::Close() {
  if (listed_) {
    const std::lock_guard<std::mutex> lock(ListMutex());
    auto& files = OpenFiles();
    const auto it = files.find({device_, inode_});
    if (it != files.end() && --it->second == 0) files.erase(it);
    listed_ = false;
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!pending_.empty()) ::unlink(pending_.c_str());
  pending_.clear();
}

MappedView::MappedView(MappedView&& other) noexcept : data_(other.data_), size_(other.size_) {
  other.data_ = nullptr;
  other.size_ = 0;
}

MappedView& MappedView::operator=(MappedView&& other) noexcept {
  if (this != &other) {
    Unmap();
    data_ = other.data_;
    size_ = other.size_;
    other.data_ = nullptr;
    other.size_ = 0;
  }
  return *this;
}

// A writable view up to this size is faulted in at once: the job fills
// every page of an output anyway, and one call costs less than a fault per
// page. Larger views fault in as they are written, so that they do not
// crowd the page cache.
constexpr uint64_t kPopulateLimit = uint64_t{256} << 20;

int MappedView::Map(const OsFile& file, uint64_t offset, uint64_t length, bool writable) {
  Unmap();
  if (length == 0) return EINVAL;
  if (length > std::numeric_limits<size_t>::max() ||
      offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max()))
    return EOVERFLOW;
  const int prot = writable ? PROT_READ | PROT_WRITE : PROT_READ;
  void* p = ::mmap(nullptr, static_cast<size_t>(length), prot, MAP_SHARED, file.fd(),
                   static_cast<off_t>(offset));
  if (p == MAP_FAILED) return errno;
  // Only advice: a kernel without it, or a failure, leaves the faults to
  // come one by one.
  if (writable && length <= kPopulateLimit)
    ::madvise(p, static_cast<size_t>(length), MADV_POPULATE_WRITE);
  data_ = static_cast<uint8_t*>(p);
  size_ = length;
  return 0;
}

void MappedView::Unmap() {
  if (data_) ::munmap(data_, static_cast<size_t>(size_));
  data_ = nullptr;
  size_ = 0;
}

uint64_t PhysicalMemory() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long page_size = ::sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) return UINT64_MAX;
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
}

}  // namespace clipra
