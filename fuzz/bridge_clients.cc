// What display and key clients may send the bridge, in any bytes: every
// line gets its answer, the unit's two lines stay 16 cells each, time moves
// on without a spin, and a client that goes takes its screens with it.
//
// Input: a script of chunks. Byte 0 of a chunk: bits 0-1 the client (two
// display clients, one key client), bits 2-7 milliseconds to let pass;
// byte 1 the chunk's length; then the bytes that client sends.
#include <cstdint>
#include <string>

#include "bridge/lcd_server.h"
#include "bridge/line_reader.h"
#include "bridge/lirc.h"
#include "fuzz/fuzz_support.h"

namespace {
void CheckLines(const Lines& lines) {
  for (const std::string& row : lines) FUZZ_CHECK(row.size() == 16);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  LcdServer server(DisplayCharset::kLatin1);
  LineReader readers[3] = {LineReader(512), LineReader(512), LineReader(64)};
  server.Connect(0);
  server.Connect(1);
  const KeyMap keys = DefaultKeys();
  uint64_t now = 1000;
  while (!in.empty()) {
    const uint8_t head = in.Byte();
    const int client = (head & 3) % 3;
    now += head >> 2;
    const std::string bytes = in.Text(in.Byte());
    const LineReader::Result got = readers[client].Feed(bytes.data(), bytes.size());
    for (const std::string& line : got.lines) {
      if (client == 2) {
        const std::string reply = LircReply(line, keys, "0");
        FUZZ_CHECK(reply.empty() || (reply.compare(0, 6, "BEGIN\n") == 0 &&
                                     reply.compare(reply.size() - 4, 4, "END\n") == 0));
        continue;
      }
      const size_t before = server.TakeMessages().size();
      FUZZ_CHECK(before == 0);
      server.Handle(client, line, now);
      size_t answers = 0;
      for (const LcdMessage& m : server.TakeMessages()) {
        FUZZ_CHECK(!m.text.empty() && m.text.back() == '\n');
        answers += m.client == client ? 1 : 0;
      }
      // Blank lines go unanswered; every other line is answered.
      const bool blank = line.find_first_not_of(" \t") == std::string::npos;
      FUZZ_CHECK(blank || answers > 0);
    }
    const int64_t due = server.Tick(now);
    FUZZ_CHECK(due >= -1);
    server.TakeMessages();
    CheckLines(server.Render(now));
    const int holder = server.KeyHolder(KeyNameFor(keys, 0x3535));
    FUZZ_CHECK(holder >= -1 && holder <= 1);
  }
  server.Disconnect(0, now);
  server.Disconnect(1, now);
  server.TakeMessages();
  FUZZ_CHECK(server.Tick(now) == -1);
  FUZZ_CHECK(server.Render(now)[0] == "norvelo-bridge  ");
  return 0;
}
