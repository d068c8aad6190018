// A program run in a child process for a test: its standard output read line by line,
// its standard error kept, signals sent to it, its end awaited within a bound. Started
// with plain fork and exec, which the thread sanitizer follows.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

class TChildProcess {
public:
    // Runs in WorkingDirectory when one is given.
    explicit TChildProcess(const std::vector<std::string>& Arguments,
                           const std::string& WorkingDirectory = {});
    ~TChildProcess(); // kills what is still running
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // The next line of its standard output, without the newline; empty after TimeoutMs.
    std::string ReadLine(int TimeoutMs);
    // The rest of its standard output, up to its end or TimeoutMs.
    std::string ReadRest(int TimeoutMs);
    // Its standard error up to its end or TimeoutMs (call once it has ended).
    std::string ReadErrors(int TimeoutMs);
    void Signal(int Number);
    // Its exit status; -1 when it has not ended within TimeoutMs or was killed.
    int Wait(int TimeoutMs);

private:
    pid_t Pid = -1;
    int PidFd = -1;
    int Output = -1;
    int Errors = -1;
    std::string Pending;
};
