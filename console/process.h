// The process spine of the console player: start-up, the two child processes
// (receiver and decoder), the main loop and the ways out.
#pragma once

// Bound on waiting for the children at exit before they are killed outright.
constexpr int kChildExitWaitMs = 2000;
// The decoder gets this long to end on the QUIT line it was sent before it
// is signalled (any ending) or killed (a track key past the end).
constexpr int kQuitLineGraceMs = 500;

// Runs the whole program; returns only an exit status of a start-up failure.
int RunPlayer(int argc, char* argv[]);
