#include "bridge/bridge.h"

int main(int argc, char* argv[]) { return RunBridge(argc, argv); }
