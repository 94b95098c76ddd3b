// The serial device of the control unit: 2400 baud, 8N1, raw, no flow control.
#pragma once

#include <poll.h>

#include <string>

#include "link/keys.h"

// The device of the control unit when no "-s" names another.
constexpr char kDefaultSerport[] = "/dev/ttyS0";

// Opens the device read-write and close-on-exec, without becoming its
// controlling terminal and without blocking on modem lines, and applies the
// line settings. -1 on failure. A path that opens but is no terminal (a
// regular file, a FIFO, /dev/null) is closed again before anything is written
// to it; refusal then says what it is.
int OpenSerial(const std::string& path, std::string* refusal = nullptr);

// OpenSerial at start-up: a failure is said with the start-up message, "Unable
// to open <path>" or "Unable to use <path>: <refusal>", and gives -1.
int OpenSerialAtStart(const std::string& path);

// The line settings alone, on an open descriptor (results are not acted on).
void ConfigureSerial(int fd);

// A line that hung up (a USB adapter pulled out) is tried again this often.
constexpr int kReopenIntervalMs = 500;

// What poll reports on a line that is gone: it must be closed rather than
// read in a loop.
constexpr short kLineGoneEvents = POLLHUP | POLLERR | POLLNVAL;

// What a failed read or write says of a line that is gone, as opposed to one
// that is only full or interrupted.
bool LineGoneError(int error);

// The line hung up: said, closed (fd becomes -1), and a half frame dropped.
void LoseLine(int& fd, FrameAssembler& assembler, const std::string& serport);

// One try at opening serport again, said when it is back: the descriptor,
// or -1 while the line is still away.
int TryReopenLine(const std::string& serport);
