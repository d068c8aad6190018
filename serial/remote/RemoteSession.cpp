#include "serial/remote/RemoteSession.h"

#include "serial/SerialLog.h"

#include <cstring>

void TRemoteSession::NotePurgeSent() {
    if (PurgeAnswers.load()) {
        PurgesAwaited.fetch_add(1);
    }
}

void TRemoteSession::NotePurgeAnswer() {
    PurgeAnswers.store(true);
    int awaited = PurgesAwaited.load();
    while (awaited > 0 && !PurgesAwaited.compare_exchange_weak(awaited, awaited - 1)) {
    }
}

size_t TRemoteSession::Sort(uint8_t* Data, size_t Length, const std::vector<TTelnetEvent>& Events,
                            std::vector<TTelnetEvent>& Answers,
                            std::vector<TTelnetEvent>& Negotiations) {
    size_t kept = 0;
    size_t from = 0;
    // The data from `from` up to Until: kept unless a purge's answer is still to come.
    const auto take = [&](size_t Until) {
        if (Until <= from) {
            return;
        }
        if (PurgesAwaited.load() == 0) {
            std::memmove(Data + kept, Data + from, Until - from);
            kept += Until - from;
        } else {
            qCDebug(lcSerial).noquote()
                << "dropped, from before a purge:" << HexBytes(Data + from, Until - from);
        }
        from = Until;
    };
    for (const TTelnetEvent& event : Events) {
        take(event.DataOffset);
        const std::optional<TComPortAnswer> answer = ComPortAnswer(event);
        if (answer && answer->Command == ComPort::PurgeData) {
            NotePurgeAnswer();
            continue;
        }
        TTelnetEvent sorted = event;
        sorted.DataOffset = kept;
        if (answer) {
            Answers.push_back(std::move(sorted));
        } else if (event.Verb >= Telnet::Will && event.Verb <= Telnet::Dont) {
            Negotiations.push_back(std::move(sorted));
        }
    }
    take(Length);
    return kept;
}
