#include "serial/remote/RemoteRxWait.h"

#include "serial/SerialLog.h"
#include "serial/remote/RemoteSession.h"
#include "serial/remote/SocketLink.h"

#include <algorithm>
#include <cstring>

TRemoteRxWait::TRemoteRxWait(std::shared_ptr<TRemoteSession> RemoteSession,
                             std::vector<uint8_t> EarlyData)
    : Session(std::move(RemoteSession)), Early(std::move(EarlyData)) {}

TRemoteRxWait::~TRemoteRxWait() = default;

bool TRemoteRxWait::Prepare() {
    if (!Session) {
        return false;
    }
    Wait = std::make_unique<TSocketWait>(Session->Link);
    return Wait->Prepare();
}

void TRemoteRxWait::Wake() {
    if (Wait) {
        Wait->Wake();
    }
}

void TRemoteRxWait::Abandon() {
    Abandoned.store(true);
    if (Wait) {
        Wait->Abandon();
    }
}

int TRemoteRxWait::Read(char* Buffer, int Size) {
    if (Abandoned.load()) {
        return Over;
    }
    if (Size <= 0) {
        return Again;
    }
    auto* bytes = reinterpret_cast<uint8_t*>(Buffer);
    if (!Early.empty()) {
        const size_t count = std::min(Early.size(), static_cast<size_t>(Size));
        std::memcpy(bytes, Early.data(), count);
        Early.erase(Early.begin(), Early.begin() + static_cast<std::ptrdiff_t>(count));
        return static_cast<int>(count);
    }
    const int count = Wait->Read(bytes, static_cast<size_t>(Size));
    if (count <= 0) {
        return count == TSocketWait::Over ? Over : Again;
    }
    Events.clear();
    Answers.clear();
    Negotiations.clear();
    const size_t data = Session->Decoder.Decode(bytes, static_cast<size_t>(count), Events);
    const size_t kept = Session->Sort(bytes, data, Events, Answers, Negotiations);
    for (const TTelnetEvent& event : Negotiations) {
        qCDebug(lcSerial).noquote() << "the server asks" << event.Verb << event.Option
                                    << "while the port is in use: left unanswered";
    }
    return kept > 0 ? static_cast<int>(kept) : Again;
}
