// A scratch folder for one test: made fresh, removed with everything in it
// when the object goes away.
#pragma once

#include <string>

namespace clipra {

class TempDir {
 public:
  // Creates a new folder under testing::TempDir() (or /tmp); aborts the test
  // program if that is impossible, since no file test could run anyway.
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder itself, without a trailing "/".
  const std::string& path() const { return path_; }
  // `name` inside the folder; the file need not exist.
  std::string Path(const std::string& name) const;
  // Writes `bytes` to `name`, replacing any file of that name.
  void WriteFile(const std::string& name, const std::string& bytes) const;
  // The whole content of `name`; empty when it cannot be read.
  std::string ReadFile(const std::string& name) const;

 private:
  std::string path_;
};

}  // namespace clipra
