// A program run in a child process for a test: its standard output read line by line,
// signals sent to it, its end awaited within a bound. Started with plain fork and exec,
// which the thread sanitizer follows.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

class TChildProcess {
public:
    explicit TChildProcess(const std::vector<std::string>& Arguments);
    ~TChildProcess(); // kills what is still running
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // The next line of its standard output, without the newline; empty after TimeoutMs.
    std::string ReadLine(int TimeoutMs);
    void Signal(int Number);
    // Its exit status; -1 when it has not ended within TimeoutMs or was killed.
    int Wait(int TimeoutMs);

private:
    pid_t Pid = -1;
    int PidFd = -1;
    int Output = -1;
    std::string Pending;
};
