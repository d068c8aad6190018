#include "ScriptedBootUnit.h"

#include "upgrade/BootFrame.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

TScriptedBootUnit::TScriptedBootUnit() {
    SlaveKeeper = ::open(Pty.SlavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    tcgetattr(SlaveKeeper, &raw);
    cfmakeraw(&raw);
    tcsetattr(SlaveKeeper, TCSANOW, &raw);
    WakeFd = eventfd(0, EFD_CLOEXEC);
    Worker = std::thread([this] { Run(); });
}

TScriptedBootUnit::~TScriptedBootUnit() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(WakeFd, &one, sizeof one);
    Worker.join();
    ::close(WakeFd);
    ::close(SlaveKeeper);
}

void TScriptedBootUnit::SetScript(TScript NewScript) {
    std::lock_guard guard(Lock);
    Script = std::move(NewScript);
}

void TScriptedBootUnit::Send(const TBytes& Bytes) {
    Pty.Write(QByteArray(reinterpret_cast<const char*>(Bytes.data()),
                         static_cast<qsizetype>(Bytes.size())));
}

std::vector<TBytes> TScriptedBootUnit::Frames() const {
    std::lock_guard guard(Lock);
    return Seen;
}

size_t TScriptedBootUnit::FrameCount() const {
    std::lock_guard guard(Lock);
    return Seen.size();
}

TBytes TScriptedBootUnit::Reply(uint8_t Command, uint8_t Count, const TBytes& Data) {
    return BuildBootFrame(Command, Count, Data.data(), Data.size());
}

void TScriptedBootUnit::Run() {
    pollfd fds[2] = {{Pty.Master, POLLIN, 0}, {WakeFd, POLLIN, 0}};
    for (;;) {
        // The keeper holds the slave side open, so the master never hangs up while the
        // program re-opens its port; the wake-up descriptor ends the loop.
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno != EINTR) {
            return;
        }
        if (fds[1].revents != 0 || (fds[0].revents & (POLLERR | POLLNVAL)) != 0 ||
            (fds[0].revents & (POLLIN | POLLHUP)) == POLLHUP) {
            return;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        uint8_t chunk[4096];
        const ssize_t n = ::read(Pty.Master, chunk, sizeof chunk);
        for (ssize_t i = 0; i < n; ++i) {
            Take(chunk[i]);
        }
    }
}

// Frames are found as the bootloader finds them: DLE STX opens, DLE DLE is one data
// byte, DLE ETX closes.
void TScriptedBootUnit::Take(uint8_t Byte) {
    if (!InFrame) {
        if (AfterDle && Byte == STX) {
            InFrame = true;
            Pending = {DLE, STX};
            AfterDle = false;
            return;
        }
        AfterDle = Byte == DLE;
        return;
    }
    Pending.push_back(Byte);
    if (AfterDle) {
        AfterDle = false;
        if (Byte != ETX) {
            return;
        }
        InFrame = false;
        TBytes answer;
        {
            std::lock_guard guard(Lock);
            Seen.push_back(Pending);
            if (Script) {
                answer = Script(Pending);
            }
        }
        Send(answer);
        return;
    }
    AfterDle = Byte == DLE;
}
