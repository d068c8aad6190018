// The unit's end of the line: a pseudo-terminal pair, with an optional stable symlink to
// its slave side. The unit keeps a slave descriptor of its own open for as long as the
// pty lives, so that the updater closing the slave never hangs up the master.
#pragma once

#include <string>

// An owned file descriptor, closed on destruction.
class TFd {
public:
    TFd() = default;
    explicit TFd(int Fd) : Value(Fd) {}
    ~TFd() { Reset(); }
    TFd(TFd&& Other) noexcept : Value(Other.Release()) {}
    TFd& operator=(TFd&& Other) noexcept;
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;

    int Get() const { return Value; }
    bool Valid() const { return Value >= 0; }
    int Release();
    void Reset(int Fd = -1);

private:
    int Value = -1;
};

class TPty {
public:
    TPty() = default;
    ~TPty() { Close(); }
    TPty(const TPty&) = delete;
    TPty& operator=(const TPty&) = delete;

    // Creates the pair (raw, at InitialRate) and, with a LinkPath, points the link at the
    // slave. A LinkPath that exists and is not a symlink is left alone and fails.
    bool Open(const std::string& LinkPath, unsigned InitialRate, std::string& Error);
    // Closes both descriptors (the far end sees a hang-up) and removes the link if it
    // still points at this pty's slave.
    void Close();

    bool IsOpen() const { return Master.Valid(); }
    int MasterFd() const { return Master.Get(); }
    const std::string& SlavePath() const { return Slave; }

private:
    TFd Master;
    TFd OwnSlave;
    std::string Slave;
    std::string Link;
};
