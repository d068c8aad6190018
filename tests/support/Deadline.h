// Bounded waits on descriptors: what is left of a wait until its deadline.
#pragma once

#include <chrono>

// Milliseconds from now to Deadline, never below zero: a poll timeout.
int MsLeft(std::chrono::steady_clock::time_point Deadline);
