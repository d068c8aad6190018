#include "tools/unitsim/Pty.h"

#include "tools/unitsim/LineRate.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include <vector>

TFd& TFd::operator=(TFd&& Other) noexcept {
    if (this != &Other) {
        Reset(Other.Release());
    }
    return *this;
}

int TFd::Release() {
    const int Fd = Value;
    Value = -1;
    return Fd;
}

void TFd::Reset(int Fd) {
    if (Value >= 0) {
        ::close(Value);
    }
    Value = Fd;
}

namespace {

std::string ErrnoText(const char* What) {
    // The category's text is safe to take on the unit's thread, strerror's is not.
    return std::string(What) + ": " + std::generic_category().message(errno);
}

// Where the symlink at Path points, or empty when Path is no symlink.
std::string LinkTarget(const std::string& Path) {
    std::vector<char> Buffer(4096);
    const ssize_t Length = ::readlink(Path.c_str(), Buffer.data(), Buffer.size() - 1);
    if (Length < 0) {
        return {};
    }
    return std::string(Buffer.data(), static_cast<size_t>(Length));
}

// Points Path at Target, replacing an earlier symlink in one step.
bool PlaceLink(const std::string& Path, const std::string& Target, std::string& Error) {
    struct stat Info {};
    if (::lstat(Path.c_str(), &Info) == 0 && !S_ISLNK(Info.st_mode)) {
        Error = "link path " + Path + " exists and is not a symlink";
        return false;
    }
    const std::string Temporary = Path + ".unitsim-" + std::to_string(::getpid());
    ::unlink(Temporary.c_str());
    if (::symlink(Target.c_str(), Temporary.c_str()) != 0) {
        Error = ErrnoText(("symlink " + Temporary).c_str());
        return false;
    }
    if (::rename(Temporary.c_str(), Path.c_str()) != 0) {
        Error = ErrnoText(("rename to " + Path).c_str());
        ::unlink(Temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

bool TPty::Open(const std::string& LinkPath, unsigned InitialRate, std::string& Error) {
    Close();
    TFd NewMaster(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!NewMaster.Valid()) {
        Error = ErrnoText("posix_openpt");
        return false;
    }
    if (::grantpt(NewMaster.Get()) != 0 || ::unlockpt(NewMaster.Get()) != 0) {
        Error = ErrnoText("grantpt/unlockpt");
        return false;
    }
    char Name[256] = {};
    if (::ptsname_r(NewMaster.Get(), Name, sizeof Name) != 0) {
        Error = ErrnoText("ptsname_r");
        return false;
    }
    TFd NewSlave(::open(Name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!NewSlave.Valid()) {
        Error = ErrnoText(("open " + std::string(Name)).c_str());
        return false;
    }
    // Raw from the start: a slave still in its default mode would echo the unit's replies
    // back to it before the updater has set the port up.
    if (!SetRawLine(NewSlave.Get(), InitialRate)) {
        Error = ErrnoText("setting the pty raw");
        return false;
    }
    const int Flags = ::fcntl(NewMaster.Get(), F_GETFL);
    if (Flags < 0 || ::fcntl(NewMaster.Get(), F_SETFL, Flags | O_NONBLOCK) != 0) {
        Error = ErrnoText("fcntl O_NONBLOCK");
        return false;
    }
    if (!LinkPath.empty() && !PlaceLink(LinkPath, Name, Error)) {
        return false;
    }
    Master = std::move(NewMaster);
    OwnSlave = std::move(NewSlave);
    Slave = Name;
    Link = LinkPath;
    return true;
}

void TPty::Close() {
    if (!Link.empty() && !Slave.empty() && LinkTarget(Link) == Slave) {
        ::unlink(Link.c_str());
    }
    Link.clear();
    OwnSlave.Reset();
    Master.Reset();
    Slave.clear();
}
