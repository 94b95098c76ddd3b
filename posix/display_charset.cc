#include "posix/display_charset.h"

#include <cstdlib>

#include "posix/trace.h"

DisplayCharset DisplayCharsetFromEnvironment() {
  DisplayCharset charset;
  const char* value = getenv(kDisplayCharsetVariable);
  if (!ParseDisplayCharset(value, charset))
    Trace("%s=%s is not latin1, ascii or raw: titles are shown in latin1\n",
          kDisplayCharsetVariable, Printable(value).c_str());
  return charset;
}
