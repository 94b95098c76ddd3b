// Every message of the console player goes through here, so that it reaches
// standard output at once (also into a pipe or a file) and tests can read it.
#pragma once

#include <cstdint>
#include <string>

// printf-style; the text is written and flushed before the call returns.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Text from outside (titles, decoder lines, file names) with its control
// bytes, tab aside, written as \xNN, so that it cannot move the cursor, clear
// the screen or fake a line of its own on the user's terminal.
std::string Printable(const std::string& text);

// Text with each byte that escaped picks written as \xHH.
std::string EscapeBytes(const std::string& text, bool (*escaped)(unsigned char));

// "IR Command: 350C": every IrFrame the line brings, as its RemoteCode.
void TraceRemoteCode(uint16_t code);

// "SIGTERM received, quitting": a program ending in order on a signal.
void TraceEndingSignal(int sig);

// Tests collect the trace instead of printing it; nullptr restores stdout.
void SetTraceCapture(std::string* capture);
