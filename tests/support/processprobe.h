// What the tests read about this process and its ports from the kernel:
// open descriptors and threads (/proc/self), which descriptors refer to a
// device, whether the device can be opened exclusively right now, here or
// from a second program, and the resident memory.
#pragma once

#include <cstddef>
#include <string>

int CountOpenDescriptors();
int CountThreads();
// Descriptors of this process open on the device (a hung-up pseudo-terminal
// counts too, under its old name).
int DescriptorsOpenOn(const std::string& devicePath);

// Opens the device as the programmer does (exclusively) and closes it
// again: "" when that worked, otherwise the failure's message.
std::string OpenExclusively(const std::string& devicePath);
// The same from a second program (a child process running the port probe):
// "" when it could open the device, otherwise what it reported.
std::string OpenFromSecondProgram(const std::string& devicePath);

size_t ResidentBytes();
