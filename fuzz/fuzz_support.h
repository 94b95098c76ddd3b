// Helpers shared by the fuzz targets: reading the input as a little script,
// files that live in memory, and a check that stops the run on a broken
// invariant so the fuzzer keeps the input that broke it.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "posix/posix.h"

#define FUZZ_CHECK(cond)                                                          \
  do {                                                                            \
    if (!(cond)) {                                                                \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                               \
    }                                                                             \
  } while (0)

// Takes bytes from the front of the input; past its end every read yields 0.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  size_t left() const { return size_ - pos_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint32_t U32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | Byte();
    return v;
  }
  // Up to n bytes as text (may hold NULs).
  std::string Text(size_t n) {
    if (n > left()) n = left();
    std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return s;
  }
  const uint8_t* Here() const { return data_ + pos_; }
  void Skip(size_t n) { pos_ += n > left() ? left() : n; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// A descriptor that swallows every write, for output nobody reads here.
inline int NullFd() {
  static const int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  return fd;
}

// An anonymous in-memory file that code under test can open by name.
class MemFile {
 public:
  explicit MemFile(const char* name) : fd_(static_cast<int>(memfd_create(name, MFD_CLOEXEC))) {
    FUZZ_CHECK(fd_ >= 0);
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemFile() { close(fd_); }
  MemFile(const MemFile&) = delete;
  MemFile& operator=(const MemFile&) = delete;

  const std::string& path() const { return path_; }
  int fd() const { return fd_; }

  void Reset() {
    FUZZ_CHECK(ftruncate(fd_, 0) == 0);
    FUZZ_CHECK(lseek(fd_, 0, SEEK_SET) == 0);
  }
  void Set(const uint8_t* data, size_t size) {
    Reset();
    FUZZ_CHECK(WriteAll(fd_, std::string_view(reinterpret_cast<const char*>(data), size)));
  }
  std::string Contents() const {
    std::string all;
    char buffer[4096];
    off_t at = 0;
    ssize_t n;
    while ((n = pread(fd_, buffer, sizeof buffer, at)) > 0) {
      all.append(buffer, static_cast<size_t>(n));
      at += n;
    }
    return all;
  }

 private:
  int fd_;
  std::string path_;
};
