// The process spine of the console player: start-up, the two child processes
// (receiver and decoder), the main loop and the ways out.
#pragma once

#include "console/player.h"

// Bound on waiting for the children at exit before they are killed outright.
constexpr int kChildExitWaitMs = 2000;

// Runs the whole program; returns only an exit status of a start-up failure.
int RunPlayer(int argc, char* argv[]);
