// The ports the configuration dialog offers, and the name a port is opened
// under. Pure logic: the Win32 side reads the machine's ports and opens them.
#pragma once

#include <string>
#include <vector>

// The longest name PortName holds (32 bytes with the terminating zero).
constexpr size_t kMaxPortNameLength = 31;

// COM1 to COM4 and the machine's own ports, in the order of their numbers,
// each name once (case ignored). A stored name that is none of them is kept
// among them, so that a port that is not plugged in stays selectable. Names
// too long to be stored are left out.
std::vector<std::string> PortChoices(const std::vector<std::string>& machinePorts,
                                     const std::string& stored);

// What CreateFile is given for a port name. Only COM1 to COM9 are known by
// their plain names; every other port (COM10 and up, the names virtual port
// drivers choose) only under the device namespace, as \\.\NAME. A name that
// already holds a backslash is taken as the path it is.
std::string PortPath(const std::string& name);
