// Hands fuzz input to code that reads files: the bytes go to one scratch file
// per process, rewritten for every input and removed at exit.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace clipra::fuzz {

class FuzzFile {
 public:
  // `suffix` becomes the file name's extension, e.g. ".001".
  explicit FuzzFile(const std::string& suffix = "") {
    const char* tmp = ::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/clipra-fuzz-XXXXXX" + suffix;
    const int fd = ::mkstemps(pattern.data(), static_cast<int>(suffix.size()));
    if (fd < 0) {
      std::perror("mkstemps");
      std::abort();
    }
    ::close(fd);
    path_ = pattern;
  }
  ~FuzzFile() { ::unlink(path_.c_str()); }
  FuzzFile(const FuzzFile&) = delete;
  FuzzFile& operator=(const FuzzFile&) = delete;

  // Replaces the file's content with `data` and returns its path.
  const std::string& Write(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path_.c_str(), "wb");
    if (f == nullptr || (size > 0 && std::fwrite(data, 1, size, f) != size) ||
        std::fclose(f) != 0) {
      std::perror(path_.c_str());
      std::abort();
    }
    return path_;
  }

 private:
  std::string path_;
};

// Writes `data` to this process's scratch file for `suffix` and returns its path.
inline const std::string& WriteFuzzFile(const uint8_t* data, size_t size,
                                        const std::string& suffix = "") {
  static std::map<std::string, std::unique_ptr<FuzzFile>> files;
  std::unique_ptr<FuzzFile>& file = files[suffix];
  if (!file) file = std::make_unique<FuzzFile>(suffix);
  return file->Write(data, size);
}

// A scratch folder for one process, for formats of two files under related
// names; removed with its files at exit.
class ScratchFolder {
 public:
  ScratchFolder() {
    const char* tmp = ::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/clipra-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    dir_ = pattern;
  }
  ~ScratchFolder() {
    for (const std::string& name : written_) ::unlink(Path(name).c_str());
    ::rmdir(dir_.c_str());
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Replaces the content of `name` with `bytes` and returns its path.
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = Path(name);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr ||
        (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) ||
        std::fclose(f) != 0) {
      std::perror(path.c_str());
      std::abort();
    }
    written_.insert(name);
    return path;
  }

 private:
  std::string dir_;
  std::set<std::string> written_;
};

}  // namespace clipra::fuzz
