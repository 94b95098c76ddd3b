// The remote mappings file loader on any file contents. The table read must
// not depend on the table it replaces, and blank lines must not take slots.
#include <cstdint>
#include <string>

#include "console/keymap.h"
#include "console/trace.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemFile file("mappings");
  std::string trace;
  SetTraceCapture(&trace);

  file.Set(data, size);
  KeyMap fromDefaults = DefaultKeys();
  FUZZ_CHECK(LoadIRCodes(file.path(), fromDefaults) == 0);
  KeyMap fromOnes;
  fromOnes.fill(0xFFFF);
  FUZZ_CHECK(LoadIRCodes(file.path(), fromOnes) == 0);
  FUZZ_CHECK(fromDefaults == fromOnes);

  // The same file with an empty line after every line.
  std::string spaced;
  for (size_t i = 0; i < size; ++i) {
    spaced.push_back(static_cast<char>(data[i]));
    if (data[i] == '\n') spaced.push_back('\n');
  }
  file.Set(reinterpret_cast<const uint8_t*>(spaced.data()), spaced.size());
  KeyMap fromSpaced{};
  FUZZ_CHECK(LoadIRCodes(file.path(), fromSpaced) == 0);
  FUZZ_CHECK(fromSpaced == fromDefaults);

  SetTraceCapture(nullptr);
  return 0;
}
