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
    TBytes bytes;
    std::istringstream words(Text);
    std::string word;
    while (words >> word) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
    }
    return bytes;
}

std::string ToHex(const TBytes& Bytes) {
    std::string text;
    for (uint8_t byte : Bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, text.empty() ? "%02X" : " %02X", byte);
        text += pair;
    }
    return text;
}

TBytes WithCrc(TBytes Bytes) {
    const uint16_t crc = ModbusCrc(Bytes.data(), 0, static_cast<uint16_t>(Bytes.size() - 1));
    Bytes.push_back(static_cast<uint8_t>(crc >> 8));
    Bytes.push_back(static_cast<uint8_t>(crc & 0xFF));
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
    const auto deadline = TClock::now() + std::chrono::seconds(2);
    size_t done = 0;
    while (done < Bytes.size()) {
        const ssize_t written = ::write(Fd, Bytes.data() + done, Bytes.size() - done);
        if (written > 0) {
            done += static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        pollfd watched{Fd, POLLOUT, 0};
        if (::poll(&watched, 1, MsLeft(deadline)) <= 0) {
            return false;
        }
    }
    return true;
}

TBytes TPtyClient::ReadCount(size_t Count, int TimeoutMs) {
    TBytes received;
    const auto deadline = TClock::now() + std::chrono::milliseconds(TimeoutMs);
    while (received.size() < Count) {
        pollfd watched{Fd, POLLIN, 0};
        if (::poll(&watched, 1, MsLeft(deadline)) <= 0 || (watched.revents & POLLIN) == 0) {
            break;
        }
        uint8_t buffer[512];
        const ssize_t got = ::read(Fd, buffer, std::min(sizeof buffer, Count - received.size()));
        if (got <= 0) {
            break;
        }
        received.insert(received.end(), buffer, buffer + got);
    }
    return received;
}

TBytes TPtyClient::ReadUntilQuiet(int QuietMs, int TimeoutMs) {
    TBytes received;
    const auto deadline = TClock::now() + std::chrono::milliseconds(TimeoutMs);
    while (MsLeft(deadline) > 0) {
        pollfd watched{Fd, POLLIN, 0};
        if (::poll(&watched, 1, std::min(QuietMs, MsLeft(deadline))) <= 0 ||
            (watched.revents & POLLIN) == 0) {
            break;
        }
        uint8_t buffer[512];
        const ssize_t got = ::read(Fd, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        received.insert(received.end(), buffer, buffer + got);
    }
    return received;
}

TBytes TPtyClient::ReadReply(int QuietMs, int FirstByteMs) {
    TBytes received = ReadCount(1, FirstByteMs);
    if (received.empty()) {
        return received;
    }
    const TBytes rest = ReadUntilQuiet(QuietMs);
    received.insert(received.end(), rest.begin(), rest.end());
    return received;
}

TBytes TPtyClient::Ask(const TBytes& Request, size_t Count, int TimeoutMs) {
    EXPECT_TRUE(Write(Request));
    return ReadCount(Count, TimeoutMs);
}

bool TPtyClient::HangsUp(int TimeoutMs) {
    const auto deadline = TClock::now() + std::chrono::milliseconds(TimeoutMs);
    while (true) {
        pollfd watched{Fd, POLLIN, 0};
        const int ready = ::poll(&watched, 1, MsLeft(deadline));
        if (ready <= 0) {
            return false;
        }
        if ((watched.revents & (POLLHUP | POLLERR)) != 0) {
            return true;
        }
        uint8_t buffer[256];
        const ssize_t got = ::read(Fd, buffer, sizeof buffer);
        if (got == 0 || (got < 0 && errno == EIO)) {
            return true;
        }
    }
}

TRunningUnit::TRunningUnit(const TUnitSimConfig& Config) : Unit(Config) {
    EXPECT_TRUE(Unit.Start()) << Unit.LastError();
    const bool boot = Unit.Mode() == TUnitMode::Boot;
    EXPECT_TRUE(Line.Open(Unit.PortPath(), boot ? BootRateOf(Config.ModelNumber)
                                                : ModbusRateOf(Config.ModelNumber)));
}

uint32_t ModbusRateOf(uint16_t Model) {
    return Model == 5466 ? 800000 : 9600;
}

uint32_t BootRateOf(uint16_t Model) {
    return Model == 5466 ? 92160 : 115200;
}
