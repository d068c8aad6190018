#include "RunWatchdog.h"

#include <cstdio>
#include <cstdlib>

TRunWatchdog::TRunWatchdog() : Thread([this] { Watch(); }) {}

TRunWatchdog::~TRunWatchdog() {
    {
        std::lock_guard guard(Lock);
        Stopping = true;
    }
    Changed.notify_all();
    Thread.join();
}

void TRunWatchdog::Arm(const std::string& What, int Ms) {
    {
        std::lock_guard guard(Lock);
        Armed = true;
        Name = What;
        Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
    }
    Changed.notify_all();
}

void TRunWatchdog::Disarm() {
    {
        std::lock_guard guard(Lock);
        Armed = false;
    }
    Changed.notify_all();
}

void TRunWatchdog::Watch() {
    std::unique_lock guard(Lock);
    while (!Stopping) {
        if (!Armed) {
            Changed.wait(guard);
            continue;
        }
        const auto deadline = Deadline;
        if (Changed.wait_until(guard, deadline) == std::cv_status::timeout && Armed && !Stopping &&
            Deadline == deadline) {
            std::fprintf(stdout, "CAMPAIGN %s verdict=HUNG\n", Name.c_str());
            std::fflush(stdout);
            std::fprintf(stderr, "%s did not end by its deadline\n", Name.c_str());
            std::_Exit(3);
        }
    }
}
