// Line-by-line reading of the text files the player is given (play lists,
// remote mappings): a line is everything up to its line feed, however long.
#pragma once

#include <cstdio>
#include <string>

#include "posix/posix.h"

// Reads the next line without its line feed. Its first `keep` bytes are kept
// in line, NULs included; cut tells whether more was dropped. Reading on past
// the kept bytes is what keeps a long line from turning into several.
// False at the end of the file (or on a read error) when no byte was read.
bool ReadLine(FILE* file, std::string& line, size_t keep, bool& cut);

// What OpenTextFile says of a path that opens but is no regular file.
constexpr char kNotARegularFile[] = "not a regular file";

// Opens a text file only if it is (still) a regular file: opening a FIFO
// would wait for a writer for ever, and a device is no list and may never
// end. nullptr on failure, with why (when given) the system's reason or
// kNotARegularFile.
FileHandle OpenTextFile(const std::string& path, std::string* why = nullptr);
