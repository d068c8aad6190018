#include "tests/unitsim/PtyClient.h"

#include "Deadline.h"

#include "modbus/ModbusCrc.h"
#include "tools/unitsim/LineRate.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <unistd.h>

namespace {

using TClock = std::chrono::steady_clock;

} // namespace

TBytes FromHex(const std::string& Text) {
    TBytes Bytes;
    std::istringstream Words(Text);
    std::string Word;
    while (Words >> Word) {
        Bytes.push_back(static_cast<uint8_t>(std::stoul(Word, nullptr, 16)));
    }
    return Bytes;
}

std::string ToHex(const TBytes& Bytes) {
    std::string Text;
    for (uint8_t Byte : Bytes) {
        char Pair[4];
        std::snprintf(Pair, sizeof Pair, Text.empty() ? "%02X" : " %02X", Byte);
        Text += Pair;
    }
    return Text;
}

TBytes WithCrc(TBytes Bytes) {
    const uint16_t Crc = ModbusCrc(Bytes.data(), 0, static_cast<uint16_t>(Bytes.size() - 1));
    Bytes.push_back(static_cast<uint8_t>(Crc >> 8));
    Bytes.push_back(static_cast<uint8_t>(Crc & 0xFF));
    return Bytes;
}

bool TPtyClient::Open(const std::string& Path, uint32_t Rate) {
    Close();
    Fd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (Fd < 0) {
        return false;
    }
    if (!SetRawLine(Fd, Rate)) {
        Close();
        return false;
    }
    return true;
}

bool TPtyClient::SetRate(uint32_t Rate) {
    return SetRawLine(Fd, Rate);
}

void TPtyClient::Close() {
    if (Fd >= 0) {
        ::close(Fd);
        Fd = -1;
    }
}

bool TPtyClient::Write(const TBytes& Bytes) {
    const auto Deadline = TClock::now() + std::chrono::seconds(2);
    size_t Done = 0;
    while (Done < Bytes.size()) {
        const ssize_t Written = ::write(Fd, Bytes.data() + Done, Bytes.size() - Done);
        if (Written > 0) {
            Done += static_cast<size_t>(Written);
            continue;
        }
        if (Written < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        pollfd Watched{Fd, POLLOUT, 0};
        if (::poll(&Watched, 1, MsLeft(Deadline)) <= 0) {
            return false;
        }
    }
    return true;
}

TBytes TPtyClient::ReadCount(size_t Count, int TimeoutMs) {
    TBytes Received;
    const auto Deadline = TClock::now() + std::chrono::milliseconds(TimeoutMs);
    while (Received.size() < Count) {
        pollfd Watched{Fd, POLLIN, 0};
        if (::poll(&Watched, 1, MsLeft(Deadline)) <= 0 || (Watched.revents & POLLIN) == 0) {
            break;
        }
        uint8_t Buffer[512];
        const ssize_t Got = ::read(Fd, Buffer, std::min(sizeof Buffer, Count - Received.size()));
        if (Got <= 0) {
            break;
        }
        Received.insert(Received.end(), Buffer, Buffer + Got);
    }
    return Received;
}

TBytes TPtyClient::ReadUntilQuiet(int QuietMs, int TimeoutMs) {
    TBytes Received;
    const auto Deadline = TClock::now() + std::chrono::milliseconds(TimeoutMs);
    while (MsLeft(Deadline) > 0) {
        pollfd Watched{Fd, POLLIN, 0};
        if (::poll(&Watched, 1, std::min(QuietMs, MsLeft(Deadline))) <= 0 ||
            (Watched.revents & POLLIN) == 0) {
            break;
        }
        uint8_t Buffer[512];
        const ssize_t Got = ::read(Fd, Buffer, sizeof Buffer);
        if (Got <= 0) {
            break;
        }
        Received.insert(Received.end(), Buffer, Buffer + Got);
    }
    return Received;
}

TBytes TPtyClient::ReadReply(int QuietMs, int FirstByteMs) {
    TBytes Received = ReadCount(1, FirstByteMs);
    if (Received.empty()) {
        return Received;
    }
    const TBytes Rest = ReadUntilQuiet(QuietMs);
    Received.insert(Received.end(), Rest.begin(), Rest.end());
    return Received;
}

TBytes TPtyClient::Ask(const TBytes& Request, size_t Count, int TimeoutMs) {
    EXPECT_TRUE(Write(Request));
    return ReadCount(Count, TimeoutMs);
}

bool TPtyClient::HangsUp(int TimeoutMs) {
    const auto Deadline = TClock::now() + std::chrono::milliseconds(TimeoutMs);
    while (true) {
        pollfd Watched{Fd, POLLIN, 0};
        const int Ready = ::poll(&Watched, 1, MsLeft(Deadline));
        if (Ready <= 0) {
            return false;
        }
        if ((Watched.revents & (POLLHUP | POLLERR)) != 0) {
            return true;
        }
        uint8_t Buffer[256];
        const ssize_t Got = ::read(Fd, Buffer, sizeof Buffer);
        if (Got == 0 || (Got < 0 && errno == EIO)) {
            return true;
        }
    }
}

TRunningUnit::TRunningUnit(const TUnitSimConfig& Config) : Unit(Config) {
    EXPECT_TRUE(Unit.Start()) << Unit.LastError();
    const bool Boot = Unit.Mode() == TUnitMode::Boot;
    EXPECT_TRUE(Line.Open(Unit.PortPath(), Boot ? BootRateOf(Config.ModelNumber)
                                                : ModbusRateOf(Config.ModelNumber)));
}

uint32_t ModbusRateOf(uint16_t Model) {
    return Model == 5466 ? 800000 : 9600;
}

uint32_t BootRateOf(uint16_t Model) {
    return Model == 5466 ? 92160 : 115200;
}
