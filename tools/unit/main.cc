#include "tools/unit/unit.h"

int main(int argc, char* argv[]) { return RunUnit(std::vector<std::string>(argv + 1, argv + argc)); }
