// Ends the test program, naming the run, when a run outlives its deadline: a step that
// never returns to the event loop would otherwise hold the whole batch until the test
// runner's own time-out, without saying which seed hung.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class TRunWatchdog {
public:
    TRunWatchdog();
    ~TRunWatchdog();
    TRunWatchdog(const TRunWatchdog&) = delete;
    TRunWatchdog& operator=(const TRunWatchdog&) = delete;

    // Watches the run named What for at most Ms milliseconds from now.
    void Arm(const std::string& What, int Ms);
    void Disarm();

private:
    void Watch();

    std::mutex Lock;
    std::condition_variable Changed;
    bool Armed = false;
    bool Stopping = false;
    std::string Name;
    std::chrono::steady_clock::time_point Deadline;
    std::thread Thread;
};
