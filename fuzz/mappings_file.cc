// The remote mappings file loader on any file contents. The table read must
// not depend on the table it replaces, blank lines must not take slots, a file
// that gives no key leaves the table alone, and code 0 never finds a slot.
#include <cstdint>
#include <string>

#include "posix/keymap.h"
#include "posix/trace.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemFile file("mappings");
  std::string trace;
  SetTraceCapture(&trace);

  file.Set(data, size);
  KeyMap fromDefaults = DefaultKeys();
  const int result = LoadIRCodes(file.path(), fromDefaults);
  KeyMap ones;
  ones.fill(0xFFFF);
  KeyMap fromOnes = ones;
  FUZZ_CHECK(LoadIRCodes(file.path(), fromOnes) == result);
  if (result == 0) {
    FUZZ_CHECK(fromDefaults == fromOnes);
  } else {
    FUZZ_CHECK(result == 1);
    FUZZ_CHECK(fromDefaults == DefaultKeys());
    FUZZ_CHECK(fromOnes == ones);
  }
  FUZZ_CHECK(LookupKey(fromDefaults, 0) == KeyNone);

  // The same file with an empty line after every line.
  std::string spaced;
  for (size_t i = 0; i < size; ++i) {
    spaced.push_back(static_cast<char>(data[i]));
    if (data[i] == '\n') spaced.push_back('\n');
  }
  file.Set(reinterpret_cast<const uint8_t*>(spaced.data()), spaced.size());
  KeyMap fromSpaced = DefaultKeys();
  FUZZ_CHECK(LoadIRCodes(file.path(), fromSpaced) == result);
  FUZZ_CHECK(fromSpaced == fromDefaults);

  SetTraceCapture(nullptr);
  return 0;
}
