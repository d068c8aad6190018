#include "tools/unitsim/UnitSim.h"

#include "settings/IniFile.h"

#include "tools/unitsim/LineRate.h"
#include "tools/unitsim/Pty.h"
#include "tools/unitsim/SimReport.h"
#include "tools/unitsim/UnitEngine.h"

#include <QString>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

using TClock = TUnitEngine::TClock;
using TTime = TUnitEngine::TTime;

// How long a caller waits for the unit's thread to carry out an unplug or a replug.
constexpr std::chrono::seconds CommandBound{2};
// After the line failed on its own, a fresh pty is offered this much later.
constexpr std::chrono::milliseconds ReofferAfter{100};

enum class TCommand { Unplug, Replug };

} // namespace

class TUnitSimWorker {
public:
    explicit TUnitSimWorker(TUnitSimConfig GivenConfig) : Config(std::move(GivenConfig)) {}
    ~TUnitSimWorker() { Stop(); }

    bool Start();
    void Stop();
    bool Command(TCommand What);

    mutable std::mutex Lock; // guards Engine, SlaveName and Error
    const TUnitSimConfig Config;
    std::optional<TUnitEngine> Engine;
    std::string SlaveName;
    std::string Error;

private:
    void Run();
    void Wake();
    void TakeCommands(TTime Now);
    void ServiceLine(short Events, TTime Now);
    void Unplug(TTime Now, const std::string& Why);
    bool Replug();
    void Flush(TTime Now);

    std::mutex Control; // serialises Start and Stop
    bool Running = false;
    TPty Pty;
    TFd WakeFd;
    std::thread Thread;
    std::atomic<bool> Stopping{false};

    std::mutex CommandLock;
    std::deque<std::pair<TCommand, std::promise<bool>>> Commands;

    std::optional<TTime> ReplugAt;
    std::vector<uint8_t> Unsent;
};

bool TUnitSimWorker::Start() {
    std::lock_guard controlGuard(Control);
    std::lock_guard guard(Lock);
    if (Running) {
        Error = "already running";
        return false;
    }
    Engine.emplace(Config, TClock::now());
    std::string why;
    if (!Pty.Open(Config.LinkPath, Engine->ModeRate(), why)) {
        Error = why;
        return false;
    }
    WakeFd.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!WakeFd.Valid()) {
        Error = std::string("eventfd: ") + std::generic_category().message(errno);
        Pty.Close();
        return false;
    }
    SlaveName = Pty.SlavePath();
    Stopping = false;
    Running = true;
    Thread = std::thread([this] { Run(); });
    return true;
}

void TUnitSimWorker::Stop() {
    std::lock_guard controlGuard(Control);
    if (!Running) {
        return;
    }
    Stopping = true;
    Wake();
    // The thread only ever waits in ppoll, which the wake-up ends: the join is bounded.
    Thread.join();
    Running = false;
    Pty.Close();
    WakeFd.Reset();
    {
        std::lock_guard guard(Lock);
        SlaveName.clear();
    }
    std::lock_guard commanded(CommandLock);
    for (auto& [What, Done] : Commands) {
        Done.set_value(false);
    }
    Commands.clear();
}

void TUnitSimWorker::Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(WakeFd.Get(), &one, sizeof one);
}

bool TUnitSimWorker::Command(TCommand What) {
    std::future<bool> done;
    {
        std::lock_guard controlGuard(Control);
        if (!Running) {
            return false;
        }
        std::lock_guard commanded(CommandLock);
        Commands.emplace_back(What, std::promise<bool>());
        done = Commands.back().second.get_future();
        Wake();
    }
    return done.wait_for(CommandBound) == std::future_status::ready && done.get();
}

void TUnitSimWorker::TakeCommands(TTime Now) {
    std::lock_guard commanded(CommandLock);
    while (!Commands.empty()) {
        auto [What, Done] = std::move(Commands.front());
        Commands.pop_front();
        if (What == TCommand::Unplug) {
            const bool wasPlugged = Pty.IsOpen();
            ReplugAt.reset();
            if (wasPlugged) {
                Unplug(Now, "unplugged");
            }
            Done.set_value(wasPlugged);
        } else {
            ReplugAt.reset();
            Done.set_value(Pty.IsOpen() || Replug());
        }
    }
}

void TUnitSimWorker::Unplug(TTime Now, const std::string& Why) {
    std::lock_guard guard(Lock);
    Engine->Discard(std::move(Unsent), Now);
    Unsent.clear();
    Engine->LineLost(Now, Why);
    Pty.Close();
    SlaveName.clear();
}

bool TUnitSimWorker::Replug() {
    std::lock_guard guard(Lock);
    std::string why;
    if (!Pty.Open(Config.LinkPath, Engine->ModeRate(), why)) {
        Error = why;
        return false;
    }
    SlaveName = Pty.SlavePath();
    return true;
}

void TUnitSimWorker::ServiceLine(short Events, TTime Now) {
    if ((Events & POLLIN) != 0) {
        uint8_t buffer[4096];
        const uint32_t rate = ReadLineRate(Pty.MasterFd());
        const ssize_t count = ::read(Pty.MasterFd(), buffer, sizeof buffer);
        if (count > 0) {
            std::lock_guard guard(Lock);
            Engine->Receive(buffer, static_cast<size_t>(count), rate, Now);
            return;
        }
        if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
            return;
        }
    } else if ((Events & (POLLHUP | POLLERR | POLLNVAL)) == 0) {
        return;
    }
    // Cannot happen while the unit holds its own slave descriptor; if it does, the
    // line is dropped and offered again rather than polled in a loop.
    Unplug(Now, "the pty failed");
    ReplugAt = Now + ReofferAfter;
}

void TUnitSimWorker::Flush(TTime Now) {
    const uint32_t rate = Pty.IsOpen() ? ReadLineRate(Pty.MasterFd()) : 0;
    {
        std::lock_guard guard(Lock);
        Engine->Advance(rate, Now);
        std::vector<uint8_t> due = Engine->TakeDueOutput(Now);
        if (!Pty.IsOpen()) {
            Engine->Discard(std::move(due), Now);
            return;
        }
        Unsent.insert(Unsent.end(), due.begin(), due.end());
    }
    while (!Unsent.empty()) {
        const ssize_t written = ::write(Pty.MasterFd(), Unsent.data(), Unsent.size());
        if (written > 0) {
            Unsent.erase(Unsent.begin(), Unsent.begin() + written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && errno == EAGAIN) {
            return; // the far end is not reading: wait for room
        } else {
            Unplug(Now, "the pty failed");
            ReplugAt = Now + ReofferAfter;
            return;
        }
    }
}

void TUnitSimWorker::Run() {
    // Paced bytes leave when they are due: without this the kernel may let each timed
    // wake-up of this thread run up to 50 us late.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    while (!Stopping) {
        std::optional<TTime> deadline;
        {
            std::lock_guard guard(Lock);
            deadline = Engine->NextDue();
        }
        if (ReplugAt && (!deadline || *ReplugAt < *deadline)) {
            deadline = ReplugAt;
        }
        pollfd watched[2] = {{WakeFd.Get(), POLLIN, 0}, {Pty.MasterFd(), POLLIN, 0}};
        if (!Unsent.empty()) {
            watched[1].events |= POLLOUT;
        }
        const nfds_t count = Pty.IsOpen() ? 2 : 1;
        timespec timeout{};
        if (deadline) {
            const auto left = std::max(TClock::duration::zero(), *deadline - TClock::now());
            const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(left);
            timeout.tv_sec = static_cast<time_t>(nanoseconds.count() / 1000000000);
            timeout.tv_nsec = static_cast<long>(nanoseconds.count() % 1000000000);
        }
        if (::ppoll(watched, count, deadline ? &timeout : nullptr, nullptr) < 0 && errno != EINTR) {
            std::lock_guard guard(Lock);
            Error = std::string("ppoll: ") + std::generic_category().message(errno);
            return;
        }
        TTime now = TClock::now();
        if ((watched[0].revents & POLLIN) != 0) {
            uint64_t ignored = 0;
            [[maybe_unused]] const ssize_t read = ::read(WakeFd.Get(), &ignored, sizeof ignored);
            TakeCommands(now);
        }
        if (count == 2 && Pty.IsOpen() && watched[1].revents != 0) {
            ServiceLine(watched[1].revents, now);
        }
        bool hangUp = false;
        {
            std::lock_guard guard(Lock);
            hangUp = Engine->TakeHangUp();
        }
        if (hangUp && Pty.IsOpen()) {
            Unplug(now, "hang-up (injected)");
            if (Config.HangUp->BackAfterMs) {
                ReplugAt = now + std::chrono::milliseconds(*Config.HangUp->BackAfterMs);
            }
        }
        if (ReplugAt && *ReplugAt <= now) {
            ReplugAt.reset();
            if (!Replug()) {
                ReplugAt = now + ReofferAfter * 10;
            }
        }
        Flush(TClock::now());
    }
}

TUnitSim::TUnitSim(TUnitSimConfig Config)
    : Worker(std::make_unique<TUnitSimWorker>(std::move(Config))) {}

TUnitSim::~TUnitSim() {
    Stop();
}

bool TUnitSim::Start() {
    return Worker->Start();
}

void TUnitSim::Stop() {
    Worker->Stop();
}

std::string TUnitSim::LastError() const {
    std::lock_guard guard(Worker->Lock);
    return Worker->Error;
}

std::string TUnitSim::SlavePath() const {
    std::lock_guard guard(Worker->Lock);
    return Worker->SlaveName;
}

std::string TUnitSim::LinkPath() const {
    return Worker->Config.LinkPath;
}

std::string TUnitSim::PortPath() const {
    return LinkPath().empty() ? SlavePath() : LinkPath();
}

bool TUnitSim::WritePortMap(const std::string& Dir, int ComNumber) const {
    const std::string port = PortPath();
    if (port.empty() || ComNumber < 1) {
        return false;
    }
    const QString path = QString::fromStdString(Dir) + "/Bootload.Ini";
    return WriteIniValue(path, u"Ports", QStringLiteral("COM%1").arg(ComNumber),
                         QString::fromStdString(port)) &&
           WriteIniValue(path, u"Options", u"Comms_Port", QString::number(ComNumber));
}

bool TUnitSim::Unplug() {
    return Worker->Command(TCommand::Unplug);
}

bool TUnitSim::Replug() {
    return Worker->Command(TCommand::Replug);
}

TUnitMode TUnitSim::Mode() const {
    std::lock_guard guard(Worker->Lock);
    if (!Worker->Engine) {
        return TUnitEngine(Worker->Config, TClock::now()).Mode();
    }
    return Worker->Engine->Mode();
}

TUnitSimReport TUnitSim::Report() const {
    std::lock_guard guard(Worker->Lock);
    if (!Worker->Engine) {
        return TUnitEngine(Worker->Config, TClock::now()).Snapshot();
    }
    return Worker->Engine->Snapshot();
}

std::string TUnitSim::ReportJson(const std::vector<TFlashRange>& Ranges) const {
    return ReportToJson(Report(), Ranges);
}
