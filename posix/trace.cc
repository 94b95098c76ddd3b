#include "posix/trace.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "posix/posix.h"

namespace {
std::string* g_capture = nullptr;
}  // namespace

void SetTraceCapture(std::string* capture) { g_capture = capture; }

std::string EscapeBytes(const std::string& text, bool (*escaped)(unsigned char)) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (escaped(byte)) {
      char escape[5];
      snprintf(escape, sizeof escape, "\\x%02X", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

std::string Printable(const std::string& text) {
  return EscapeBytes(text,
                     [](unsigned char byte) { return (byte < 0x20 && byte != '\t') || byte == 0x7F; });
}

void TraceRemoteCode(uint16_t code) { Trace("IR Command: %04X\n", code); }

void TraceEndingSignal(int sig) { Trace("SIG%s received, quitting\n", sigabbrev_np(sig)); }

void Trace(const char* format, ...) {
  char small[512];
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = vsnprintf(small, sizeof small, format, args);
  va_end(args);
  std::string text;
  if (n < 0) {
    va_end(copy);
    return;
  }
  if (static_cast<size_t>(n) < sizeof small) {
    text.assign(small, static_cast<size_t>(n));
  } else {
    text.resize(static_cast<size_t>(n) + 1);
    vsnprintf(&text[0], text.size(), format, copy);
    text.resize(static_cast<size_t>(n));
  }
  va_end(copy);
  if (g_capture) {
    g_capture->append(text);
    return;
  }
  // Unbuffered: a trace must not wait in a stdio buffer when stdout is a pipe.
  // A full or closed output costs the trace, not a wait.
  WriteAll(STDOUT_FILENO, text, 0);
}
