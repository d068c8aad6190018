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
    const int fd = Value;
    Value = -1;
    return fd;
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
    std::vector<char> buffer(4096);
    const ssize_t length = ::readlink(Path.c_str(), buffer.data(), buffer.size() - 1);
    if (length < 0) {
        return {};
    }
    return std::string(buffer.data(), static_cast<size_t>(length));
}

// Points Path at Target, replacing an earlier symlink in one step.
bool PlaceLink(const std::string& Path, const std::string& Target, std::string& Error) {
    struct stat info {};
    if (::lstat(Path.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
        Error = "link path " + Path + " exists and is not a symlink";
        return false;
    }
    const std::string temporary = Path + ".unitsim-" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(Target.c_str(), temporary.c_str()) != 0) {
        Error = ErrnoText(("symlink " + temporary).c_str());
        return false;
    }
    if (::rename(temporary.c_str(), Path.c_str()) != 0) {
        Error = ErrnoText(("rename to " + Path).c_str());
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

bool TPty::Open(const std::string& LinkPath, unsigned InitialRate, std::string& Error) {
    Close();
    TFd newMaster(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!newMaster.Valid()) {
        Error = ErrnoText("posix_openpt");
        return false;
    }
    if (::grantpt(newMaster.Get()) != 0 || ::unlockpt(newMaster.Get()) != 0) {
        Error = ErrnoText("grantpt/unlockpt");
        return false;
    }
    char name[256] = {};
    if (::ptsname_r(newMaster.Get(), name, sizeof name) != 0) {
        Error = ErrnoText("ptsname_r");
        return false;
    }
    TFd newSlave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!newSlave.Valid()) {
        Error = ErrnoText(("open " + std::string(name)).c_str());
        return false;
    }
    // Raw from the start: a slave still in its default mode would echo the unit's replies
    // back to it before the updater has set the port up.
    if (!SetRawLine(newSlave.Get(), InitialRate)) {
        Error = ErrnoText("setting the pty raw");
        return false;
    }
    const int flags = ::fcntl(newMaster.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(newMaster.Get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        Error = ErrnoText("fcntl O_NONBLOCK");
        return false;
    }
    if (!LinkPath.empty() && !PlaceLink(LinkPath, name, Error)) {
        return false;
    }
    Master = std::move(newMaster);
    OwnSlave = std::move(newSlave);
    Slave = name;
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
