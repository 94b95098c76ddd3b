// The serial device of the control unit: 2400 baud, 8N1, raw, no flow control.
#pragma once

#include <string>

// Opens the device read-write and close-on-exec, without becoming its
// controlling terminal and without blocking on modem lines, and applies the
// line settings. -1 on failure. A path that opens but is no terminal (a
// regular file, a FIFO, /dev/null) is closed again before anything is written
// to it; refusal then says what it is.
int OpenSerial(const std::string& path, std::string* refusal = nullptr);

// The line settings alone, on an open descriptor (results are not acted on).
void ConfigureSerial(int fd);
