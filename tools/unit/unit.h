// norvelo-unit: the control unit emulated on a pseudo-terminal.
#pragma once

#include <string>
#include <vector>

// The whole program, given the arguments after its name; the exit status.
int RunUnit(const std::vector<std::string>& args);
