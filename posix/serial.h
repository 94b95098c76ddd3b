// The serial device of the control unit: 2400 baud, 8N1, raw, no flow control.
#pragma once

#include <poll.h>

#include <string>

#include "link/keys.h"

// The device of the control unit when no "-s" names another.
constexpr char kDefaultSerport[] = "/dev/ttyS0";

// Why a line could not be had: the system refused to open it (opened false),
// or it opened but is not to be used (no terminal, another program's line).
struct LineRefusal {
  bool opened = false;
  std::string reason;  // as a user reads it: "No such file or directory", ...
};

// Opens the device read-write and close-on-exec, without becoming its
// controlling terminal and without blocking on modem lines, takes it for this
// program alone and applies the line settings. -1 on failure, with refusal
// filled in when given. A path that opens but is no terminal (a regular file,
// a FIFO, /dev/null) is closed again before anything is written to it.
//
// One program per line: two programs on it would split the keys and write
// over each other's frames. The line is held by an advisory lock on the open
// description, which binds root too, and by the terminal's exclusive mode once
// the program has all its descriptions of it. A line another program holds is
// refused ("in use by another program", with its pid where the system tells)
// before anything is written to it, also when reopened after a loss. One this
// program holds already, in this process or in one forked from it, opens
// again.
int OpenSerial(const std::string& path, LineRefusal* refusal = nullptr);

// How many descriptions of the line the program keeps open at once (1 unless
// said). The exclusive mode waits for the last of them: it would refuse the
// others to a program that does not run as root.
void SetLineDescriptions(int count);

// Closes a description of the line; the program's hold goes with the one that
// took it, so that a stale hold cannot pass for a new device's.
void CloseLine(int fd);

// OpenSerial at start-up: a failure is said with the start-up message, "Unable
// to open <path>: <reason>" or "Unable to use <path>: <reason>", and gives -1.
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
// or -1 while the line is still away or another program holds it.
int TryReopenLine(const std::string& serport);
