#include "ChildProcess.h"
#include "Deadline.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using TClock = std::chrono::steady_clock;

// Appends what Fd gives until its end or the deadline; false at the deadline.
bool ReadToEnd(int Fd, std::string& Text, TClock::time_point Deadline) {
    while (Fd >= 0) {
        pollfd watched{Fd, POLLIN, 0};
        if (::poll(&watched, 1, MsLeft(Deadline)) <= 0) {
            return false;
        }
        char buffer[4096];
        const ssize_t got = ::read(Fd, buffer, sizeof buffer);
        if (got <= 0) {
            return true;
        }
        Text.append(buffer, static_cast<size_t>(got));
    }
    return true;
}

} // namespace

TChildProcess::TChildProcess(const std::vector<std::string>& Arguments,
                             const std::string& WorkingDirectory) {
    int pipe[2];
    int errorPipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        return;
    }
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
        ::close(pipe[0]);
        ::close(pipe[1]);
        return;
    }
    std::vector<char*> argv;
    argv.reserve(Arguments.size() + 1);
    for (const std::string& argument : Arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    Pid = ::fork();
    if (Pid == 0) {
        ::dup2(pipe[1], STDOUT_FILENO);
        ::dup2(errorPipe[1], STDERR_FILENO);
        // As started from a terminal, whatever the test runner was started ignoring
        // (nohup, a background job).
        for (const int number : {SIGHUP, SIGINT, SIGQUIT}) {
            ::signal(number, SIG_DFL);
        }
        if (!WorkingDirectory.empty() && ::chdir(WorkingDirectory.c_str()) != 0) {
            ::_exit(126);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipe[1]);
    ::close(errorPipe[1]);
    Output = pipe[0];
    Errors = errorPipe[0];
    if (Pid > 0) {
        PidFd = static_cast<int>(::syscall(SYS_pidfd_open, Pid, 0));
    }
}

TChildProcess::~TChildProcess() {
    if (Pid > 0) {
        ::kill(Pid, SIGKILL);
        ::waitpid(Pid, nullptr, 0);
    }
    if (PidFd >= 0) {
        ::close(PidFd);
    }
    if (Output >= 0) {
        ::close(Output);
    }
    if (Errors >= 0) {
        ::close(Errors);
    }
}

std::string TChildProcess::ReadRest(int TimeoutMs) {
    std::string text = std::move(Pending);
    Pending.clear();
    ReadToEnd(Output, text, TClock::now() + std::chrono::milliseconds(TimeoutMs));
    return text;
}

std::string TChildProcess::ReadErrors(int TimeoutMs) {
    std::string text;
    ReadToEnd(Errors, text, TClock::now() + std::chrono::milliseconds(TimeoutMs));
    return text;
}

std::string TChildProcess::ReadLine(int TimeoutMs) {
    const auto deadline = TClock::now() + std::chrono::milliseconds(TimeoutMs);
    while (Pending.find('\n') == std::string::npos) {
        pollfd watched{Output, POLLIN, 0};
        if (Output < 0 || ::poll(&watched, 1, MsLeft(deadline)) <= 0) {
            return {};
        }
        char buffer[256];
        const ssize_t got = ::read(Output, buffer, sizeof buffer);
        if (got <= 0) {
            return {};
        }
        Pending.append(buffer, static_cast<size_t>(got));
    }
    const size_t end = Pending.find('\n');
    std::string line = Pending.substr(0, end);
    Pending.erase(0, end + 1);
    return line;
}

void TChildProcess::Signal(int Number) {
    if (Pid > 0) {
        ::kill(Pid, Number);
    }
}

int TChildProcess::Wait(int TimeoutMs) {
    if (Pid <= 0 || PidFd < 0) {
        return -1;
    }
    pollfd watched{PidFd, POLLIN, 0};
    if (::poll(&watched, 1, TimeoutMs) <= 0) {
        return -1;
    }
    int status = 0;
    if (::waitpid(Pid, &status, 0) != Pid) {
        return -1;
    }
    Pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
