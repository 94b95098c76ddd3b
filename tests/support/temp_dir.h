// A private temporary folder for tests and benches, removed with everything in
// it when it goes.
#pragma once

#include <string>

class TempDir {
 public:
  // $TMPDIR (else /tmp)/<prefix>-XXXXXX; the process ends when none can be made.
  explicit TempDir(const std::string& prefix = "norvelo");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string Join(const std::string& name) const { return path_ + "/" + name; }
  // A file or folder in it; its path.
  std::string Write(const std::string& name, const std::string& content) const;
  std::string MakeDir(const std::string& name) const;

 private:
  std::string path_;
};
