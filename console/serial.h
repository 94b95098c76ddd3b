// The serial device of the control unit: 2400 baud, 8N1, raw, no flow control.
#pragma once

#include <string>

// Opens the device read-write, without becoming its controlling terminal and
// without blocking on modem lines, and applies the line settings. -1 on failure.
int OpenSerial(const std::string& path);

// The line settings alone, on an open descriptor (results are not acted on).
void ConfigureSerial(int fd);
