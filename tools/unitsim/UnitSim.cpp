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
    std::lock_guard ControlGuard(Control);
    std::lock_guard Guard(Lock);
    if (Running) {
        Error = "already running";
        return false;
    }
    Engine.emplace(Config, TClock::now());
    std::string Why;
    if (!Pty.Open(Config.LinkPath, Engine->ModeRate(), Why)) {
        Error = Why;
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
    std::lock_guard ControlGuard(Control);
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
        std::lock_guard Guard(Lock);
        SlaveName.clear();
    }
    std::lock_guard Commanded(CommandLock);
    for (auto& [What, Done] : Commands) {
        Done.set_value(false);
    }
    Commands.clear();
}

void TUnitSimWorker::Wake() {
    const uint64_t One = 1;
    [[maybe_unused]] const ssize_t Written = ::write(WakeFd.Get(), &One, sizeof One);
}

bool TUnitSimWorker::Command(TCommand What) {
    std::future<bool> Done;
    {
        std::lock_guard ControlGuard(Control);
        if (!Running) {
            return false;
        }
        std::lock_guard Commanded(CommandLock);
        Commands.emplace_back(What, std::promise<bool>());
        Done = Commands.back().second.get_future();
        Wake();
    }
    return Done.wait_for(CommandBound) == std::future_status::ready && Done.get();
}

void TUnitSimWorker::TakeCommands(TTime Now) {
    std::lock_guard Commanded(CommandLock);
    while (!Commands.empty()) {
        auto [What, Done] = std::move(Commands.front());
        Commands.pop_front();
        if (What == TCommand::Unplug) {
            const bool WasPlugged = Pty.IsOpen();
            ReplugAt.reset();
            if (WasPlugged) {
                Unplug(Now, "unplugged");
            }
            Done.set_value(WasPlugged);
        } else {
            ReplugAt.reset();
            Done.set_value(Pty.IsOpen() || Replug());
        }
    }
}

void TUnitSimWorker::Unplug(TTime Now, const std::string& Why) {
    std::lock_guard Guard(Lock);
    Engine->Discard(std::move(Unsent), Now);
    Unsent.clear();
    Engine->LineLost(Now, Why);
    Pty.Close();
    SlaveName.clear();
}

bool TUnitSimWorker::Replug() {
    std::lock_guard Guard(Lock);
    std::string Why;
    if (!Pty.Open(Config.LinkPath, Engine->ModeRate(), Why)) {
        Error = Why;
        return false;
    }
    SlaveName = Pty.SlavePath();
    return true;
}

void TUnitSimWorker::ServiceLine(short Events, TTime Now) {
    if ((Events & POLLIN) != 0) {
        uint8_t Buffer[4096];
        const uint32_t Rate = ReadLineRate(Pty.MasterFd());
        const ssize_t Count = ::read(Pty.MasterFd(), Buffer, sizeof Buffer);
        if (Count > 0) {
            std::lock_guard Guard(Lock);
            Engine->Receive(Buffer, static_cast<size_t>(Count), Rate, Now);
            return;
        }
        if (Count < 0 && (errno == EAGAIN || errno == EINTR)) {
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
    const uint32_t Rate = Pty.IsOpen() ? ReadLineRate(Pty.MasterFd()) : 0;
    {
        std::lock_guard Guard(Lock);
        Engine->Advance(Rate, Now);
        std::vector<uint8_t> Due = Engine->TakeDueOutput(Now);
        if (!Pty.IsOpen()) {
            Engine->Discard(std::move(Due), Now);
            return;
        }
        Unsent.insert(Unsent.end(), Due.begin(), Due.end());
    }
    while (!Unsent.empty()) {
        const ssize_t Written = ::write(Pty.MasterFd(), Unsent.data(), Unsent.size());
        if (Written > 0) {
            Unsent.erase(Unsent.begin(), Unsent.begin() + Written);
        } else if (Written < 0 && errno == EINTR) {
            continue;
        } else if (Written < 0 && errno == EAGAIN) {
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
        std::optional<TTime> Deadline;
        {
            std::lock_guard Guard(Lock);
            Deadline = Engine->NextDue();
        }
        if (ReplugAt && (!Deadline || *ReplugAt < *Deadline)) {
            Deadline = ReplugAt;
        }
        pollfd Watched[2] = {{WakeFd.Get(), POLLIN, 0}, {Pty.MasterFd(), POLLIN, 0}};
        if (!Unsent.empty()) {
            Watched[1].events |= POLLOUT;
        }
        const nfds_t Count = Pty.IsOpen() ? 2 : 1;
        timespec Timeout{};
        if (Deadline) {
            const auto Left = std::max(TClock::duration::zero(), *Deadline - TClock::now());
            const auto Nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(Left);
            Timeout.tv_sec = static_cast<time_t>(Nanoseconds.count() / 1000000000);
            Timeout.tv_nsec = static_cast<long>(Nanoseconds.count() % 1000000000);
        }
        if (::ppoll(Watched, Count, Deadline ? &Timeout : nullptr, nullptr) < 0 && errno != EINTR) {
            std::lock_guard Guard(Lock);
            Error = std::string("ppoll: ") + std::generic_category().message(errno);
            return;
        }
        TTime Now = TClock::now();
        if ((Watched[0].revents & POLLIN) != 0) {
            uint64_t Ignored = 0;
            [[maybe_unused]] const ssize_t Read = ::read(WakeFd.Get(), &Ignored, sizeof Ignored);
            TakeCommands(Now);
        }
        if (Count == 2 && Pty.IsOpen() && Watched[1].revents != 0) {
            ServiceLine(Watched[1].revents, Now);
        }
        bool HangUp = false;
        {
            std::lock_guard Guard(Lock);
            HangUp = Engine->TakeHangUp();
        }
        if (HangUp && Pty.IsOpen()) {
            Unplug(Now, "hang-up (injected)");
            if (Config.HangUp->BackAfterMs) {
                ReplugAt = Now + std::chrono::milliseconds(*Config.HangUp->BackAfterMs);
            }
        }
        if (ReplugAt && *ReplugAt <= Now) {
            ReplugAt.reset();
            if (!Replug()) {
                ReplugAt = Now + ReofferAfter * 10;
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
    std::lock_guard Guard(Worker->Lock);
    return Worker->Error;
}

std::string TUnitSim::SlavePath() const {
    std::lock_guard Guard(Worker->Lock);
    return Worker->SlaveName;
}

std::string TUnitSim::LinkPath() const {
    return Worker->Config.LinkPath;
}

std::string TUnitSim::PortPath() const {
    return LinkPath().empty() ? SlavePath() : LinkPath();
}

bool TUnitSim::WritePortMap(const std::string& Dir, int ComNumber) const {
    const std::string Port = PortPath();
    if (Port.empty() || ComNumber < 1) {
        return false;
    }
    const QString Path = QString::fromStdString(Dir) + "/Bootload.Ini";
    return WriteIniValue(Path, u"Ports", QStringLiteral("COM%1").arg(ComNumber),
                         QString::fromStdString(Port)) &&
           WriteIniValue(Path, u"Options", u"Comms_Port", QString::number(ComNumber));
}

bool TUnitSim::Unplug() {
    return Worker->Command(TCommand::Unplug);
}

bool TUnitSim::Replug() {
    return Worker->Command(TCommand::Replug);
}

TUnitMode TUnitSim::Mode() const {
    std::lock_guard Guard(Worker->Lock);
    if (!Worker->Engine) {
        return TUnitEngine(Worker->Config, TClock::now()).Mode();
    }
    return Worker->Engine->Mode();
}

TUnitSimReport TUnitSim::Report() const {
    std::lock_guard Guard(Worker->Lock);
    if (!Worker->Engine) {
        return TUnitEngine(Worker->Config, TClock::now()).Snapshot();
    }
    return Worker->Engine->Snapshot();
}

std::string TUnitSim::ReportJson(const std::vector<TFlashRange>& Ranges) const {
    return ReportToJson(Report(), Ranges);
}
