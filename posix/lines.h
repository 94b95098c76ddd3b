// Line-by-line reading of the text files the player is given (play lists,
// remote mappings): a line is everything up to its line feed, however long.
#pragma once

#include <cstdio>
#include <string>

// Reads the next line without its line feed. Its first `keep` bytes are kept
// in line, NULs included; cut tells whether more was dropped. Reading on past
// the kept bytes is what keeps a long line from turning into several.
// False at the end of the file (or on a read error) when no byte was read.
bool ReadLine(FILE* file, std::string& line, size_t keep, bool& cut);
