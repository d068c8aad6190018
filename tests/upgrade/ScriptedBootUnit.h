// A scripted far end on a pseudo-terminal: it collects every DLE-framed request the
// program writes, whole and as sent on the wire, and answers each with the bytes a
// test's script gives. Used where a test needs exact bytes or a reply no sound unit
// would send.
#pragma once

#include "PtyPair.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

using TBytes = std::vector<uint8_t>;

class TScriptedBootUnit {
public:
    // Given a request frame as it came over the line, gives the bytes to send back
    // (nothing: stay silent).
    using TScript = std::function<TBytes(const TBytes& Frame)>;

    TScriptedBootUnit();
    ~TScriptedBootUnit();
    TScriptedBootUnit(const TScriptedBootUnit&) = delete;
    TScriptedBootUnit& operator=(const TScriptedBootUnit&) = delete;

    QString SlavePath() const { return Pty.SlavePath; }
    void SetScript(TScript Script);
    // Writes bytes to the program at once, outside any exchange.
    void Send(const TBytes& Bytes);
    std::vector<TBytes> Frames() const;
    size_t FrameCount() const;

    // A reply frame for command, count and data, with a good checksum.
    static TBytes Reply(uint8_t Command, uint8_t Count, const TBytes& Data);

private:
    void Run();
    void Take(uint8_t Byte);

    TPtyPair Pty;
    int SlaveKeeper = -1; // keeps the line up while the program re-opens its side
    int WakeFd = -1;
    mutable std::mutex Lock;
    TScript Script;
    std::vector<TBytes> Seen;
    TBytes Pending;
    bool InFrame = false;
    bool AfterDle = false;
    std::thread Worker;
};
