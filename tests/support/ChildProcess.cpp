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
        pollfd Watched{Fd, POLLIN, 0};
        if (::poll(&Watched, 1, MsLeft(Deadline)) <= 0) {
            return false;
        }
        char Buffer[4096];
        const ssize_t Got = ::read(Fd, Buffer, sizeof Buffer);
        if (Got <= 0) {
            return true;
        }
        Text.append(Buffer, static_cast<size_t>(Got));
    }
    return true;
}

} // namespace

TChildProcess::TChildProcess(const std::vector<std::string>& Arguments,
                             const std::string& WorkingDirectory) {
    int Pipe[2];
    int ErrorPipe[2];
    if (::pipe2(Pipe, O_CLOEXEC) != 0) {
        return;
    }
    if (::pipe2(ErrorPipe, O_CLOEXEC) != 0) {
        ::close(Pipe[0]);
        ::close(Pipe[1]);
        return;
    }
    std::vector<char*> Argv;
    Argv.reserve(Arguments.size() + 1);
    for (const std::string& Argument : Arguments) {
        Argv.push_back(const_cast<char*>(Argument.c_str()));
    }
    Argv.push_back(nullptr);
    Pid = ::fork();
    if (Pid == 0) {
        ::dup2(Pipe[1], STDOUT_FILENO);
        ::dup2(ErrorPipe[1], STDERR_FILENO);
        if (!WorkingDirectory.empty() && ::chdir(WorkingDirectory.c_str()) != 0) {
            ::_exit(126);
        }
        ::execv(Argv[0], Argv.data());
        ::_exit(127);
    }
    ::close(Pipe[1]);
    ::close(ErrorPipe[1]);
    Output = Pipe[0];
    Errors = ErrorPipe[0];
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
    std::string Text = std::move(Pending);
    Pending.clear();
    ReadToEnd(Output, Text, TClock::now() + std::chrono::milliseconds(TimeoutMs));
    return Text;
}

std::string TChildProcess::ReadErrors(int TimeoutMs) {
    std::string Text;
    ReadToEnd(Errors, Text, TClock::now() + std::chrono::milliseconds(TimeoutMs));
    return Text;
}

std::string TChildProcess::ReadLine(int TimeoutMs) {
    const auto Deadline = TClock::now() + std::chrono::milliseconds(TimeoutMs);
    while (Pending.find('\n') == std::string::npos) {
        pollfd Watched{Output, POLLIN, 0};
        if (Output < 0 || ::poll(&Watched, 1, MsLeft(Deadline)) <= 0) {
            return {};
        }
        char Buffer[256];
        const ssize_t Got = ::read(Output, Buffer, sizeof Buffer);
        if (Got <= 0) {
            return {};
        }
        Pending.append(Buffer, static_cast<size_t>(Got));
    }
    const size_t End = Pending.find('\n');
    std::string Line = Pending.substr(0, End);
    Pending.erase(0, End + 1);
    return Line;
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
    pollfd Watched{PidFd, POLLIN, 0};
    if (::poll(&Watched, 1, TimeoutMs) <= 0) {
        return -1;
    }
    int Status = 0;
    if (::waitpid(Pid, &Status, 0) != Pid) {
        return -1;
    }
    Pid = -1;
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}
