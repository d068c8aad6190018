// The reference the benchmark holds the program against: a deliberately minimal updater
// with one thread and no GUI, doing what a short script would. It opens the tty, asks the
// unit for its model over Modbus, switches it into its bootloader, erases and writes the
// same frames as the program (the same frame builder), leaves boot mode and restarts it.
// Every read blocks on the tty itself (VMIN 0, VTIME 30: at least one byte, or 3 s of
// silence), and each next request is built and written as soon as a reply is complete.
//
//   bootload_reference TTY IMAGE [--model N] [--last-address A] [--json FILE]
//
// IMAGE is read as the program reads its image (raw or Intel HEX). --json writes the run's
// stages in bootload-cli's report form (Stages with StartMs and EndMs, TotalSeconds,
// ExitStatus). Exit status 0 for a complete update, 1 for a failure, 2 for bad arguments.
#include "firmware/ImageFile.h"
#include "modbus/ModbusCrc.h"
#include "upgrade/BootFrame.h"
#include "upgrade/BootSwitchTable.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

constexpr uint32_t FirstAddress = 0x0800;
constexpr uint32_t PageSize = 512;
constexpr uint32_t BlockSize = 128;
constexpr uint8_t ModelSlave = 19;
constexpr uint16_t ModelRegister = 20;

struct TStage {
    const char* Name;
    double StartMs;
    double EndMs;
};

class TReference {
public:
    TReference(int Tty, TClock::time_point Start) : Port(Tty), Origin(Start) {}

    bool SetRate(uint32_t Rate) {
        termios settings{};
        if (tcgetattr(Port, &settings) != 0) {
            return Fail("tcgetattr", errno);
        }
        cfmakeraw(&settings);
        settings.c_cflag |= CLOCAL | CREAD;
        settings.c_cc[VMIN] = 0;
        settings.c_cc[VTIME] = 30;
        const speed_t speed = Rate == 115200 ? B115200 : Rate == 9600 ? B9600 : B0;
        if (speed == B0 || cfsetspeed(&settings, speed) != 0 ||
            tcsetattr(Port, TCSANOW, &settings) != 0) {
            return Fail("setting the rate", errno);
        }
        tcflush(Port, TCIOFLUSH);
        return true;
    }

    // A Modbus request with its CRC, and the reply of ReplyLength bytes with a good CRC.
    bool Modbus(std::vector<uint8_t> Request, size_t ReplyLength, std::vector<uint8_t>& Reply) {
        const uint16_t crc =
            ModbusCrc(Request.data(), 0, static_cast<uint16_t>(Request.size() - 1));
        Request.push_back(static_cast<uint8_t>(crc >> 8));
        Request.push_back(static_cast<uint8_t>(crc & 0xFF));
        if (!Write(Request)) {
            return false;
        }
        Reply.clear();
        while (Reply.size() < ReplyLength) {
            if (!ReadSome(Reply)) {
                return false;
            }
        }
        return ModbusCrc(Reply.data(), 0, static_cast<uint16_t>(ReplyLength - 1)) == 0 ||
               Fail("Modbus reply with a bad CRC", 0);
    }

    // One bootloader exchange: the frame, then its reply up to DLE ETX, checked.
    bool Boot(uint8_t Command, uint8_t Count, const uint8_t* Payload, size_t Length,
              uint8_t* Data) {
        if (!Write(BuildBootFrame(Command, Count, Payload, Length))) {
            return false;
        }
        std::vector<uint8_t> reply;
        size_t scanned = 0;
        for (;;) {
            if (!ReadSome(reply)) {
                return false;
            }
            // The end is a DLE that is not the second of a doubled pair, then ETX.
            for (; scanned + 1 < reply.size(); ++scanned) {
                if (reply[scanned] != DLE) {
                    continue;
                }
                if (reply[scanned + 1] == ETX && scanned >= 2) {
                    const std::vector<uint8_t> plain = UnstuffBootFrame(reply.data(), scanned + 2);
                    uint8_t scratch[256];
                    return DecodeBootReply(plain.data(), plain.size(), Count,
                                           Data != nullptr ? Data : scratch) == 1 ||
                           Fail("bootloader reply with a bad checksum", 0);
                }
                ++scanned; // DLE DLE, or DLE STX
            }
        }
    }

    double Ms() const {
        return std::chrono::duration<double, std::milli>(TClock::now() - Origin).count();
    }

    bool Fail(const char* What, int Code) {
        const std::string reason = Code != 0 ? ": " + std::generic_category().message(Code) : "";
        std::fprintf(stderr, "bootload_reference: %s%s\n", What, reason.c_str());
        return false;
    }

private:
    bool Write(const std::vector<uint8_t>& Bytes) {
        size_t done = 0;
        while (done < Bytes.size()) {
            const ssize_t n = ::write(Port, Bytes.data() + done, Bytes.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return Fail("write", errno);
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }

    bool ReadSome(std::vector<uint8_t>& Into) {
        uint8_t buffer[512];
        ssize_t n = 0;
        do {
            n = ::read(Port, buffer, sizeof buffer);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            return Fail("read", errno);
        }
        if (n == 0) {
            return Fail("no reply within 3 s", 0);
        }
        Into.insert(Into.end(), buffer, buffer + n);
        return true;
    }

    int Port;
    TClock::time_point Origin;
};

void PutAddress(uint8_t* Payload, uint32_t Address) {
    Payload[0] = static_cast<uint8_t>(Address & 0xFF);
    Payload[1] = static_cast<uint8_t>((Address >> 8) & 0xFF);
    Payload[2] = 0;
}

bool Update(TReference& Unit, const TFirmwareImage& Image, uint16_t Model, uint32_t LastAddress,
            std::vector<TStage>& Stages) {
    std::vector<uint8_t> reply;
    if (!Unit.SetRate(ModbusBaudRate(Model)) ||
        !Unit.Modbus({ModelSlave, 3, 0, ModelRegister, 0, 2}, 9, reply)) {
        return false;
    }
    if (((reply[3] << 8) | reply[4]) != Model) {
        return Unit.Fail("another model", 0);
    }
    const TBootSwitchMethod method = BootSwitchMethod(Model);
    for (int i = 0; i < method.RequestCount; ++i) {
        const TBootSwitchRequest& request = method.Requests[i];
        const std::vector<uint8_t> frame{request.Slave,
                                         request.Function,
                                         static_cast<uint8_t>(request.Register >> 8),
                                         static_cast<uint8_t>(request.Register & 0xFF),
                                         static_cast<uint8_t>(BootloaderKey >> 8),
                                         static_cast<uint8_t>(BootloaderKey & 0xFF)};
        // Slave 0 (a broadcast) gets no answer.
        if (request.Slave != 0 && !Unit.Modbus(frame, 8, reply)) {
            return false;
        }
    }
    if (!Unit.SetRate(BootloaderBaudRate(Model))) {
        return false;
    }
    uint8_t data[8];
    if (!Unit.Boot(0x08, 4, nullptr, 0, data) || !Unit.Boot(0x00, 2, nullptr, 0, data)) {
        return false;
    }
    if (((data[0] << 8) | data[1]) != Model) {
        return Unit.Fail("the bootloader reports another model", 0);
    }
    uint8_t payload[3 + BlockSize];
    Stages.push_back({"Erasing Program Memory", Unit.Ms(), 0});
    for (uint32_t address = FirstAddress; address <= LastAddress; address += PageSize) {
        PutAddress(payload, address);
        if (!Unit.Boot(0x03, 8, payload, 3, data)) {
            return false;
        }
    }
    Stages.back().EndMs = Unit.Ms();
    Stages.push_back({"Sending New Program Data", Unit.Ms(), 0});
    for (uint32_t address = FirstAddress; address <= LastAddress; address += BlockSize) {
        if (Image.BlockPresent[address / BlockSize] == 0) {
            continue;
        }
        PutAddress(payload, address);
        std::memcpy(payload + 3, Image.Bytes.data() + address, BlockSize);
        if (!Unit.Boot(0x02, 2, payload, sizeof payload, data)) {
            return false;
        }
    }
    Stages.back().EndMs = Unit.Ms();
    const uint8_t leave[] = {0xFF, 0x03, 0x00, 0x00};
    return Unit.Boot(0x05, 1, leave, sizeof leave, data) && Unit.Boot(0x00, 0, nullptr, 0, nullptr);
}

void WriteJson(const char* Path, const std::vector<TStage>& Stages, double TotalMs, int Status) {
    FILE* file = std::fopen(Path, "w");
    if (file == nullptr) {
        std::fprintf(stderr, "bootload_reference: cannot write %s\n", Path);
        return;
    }
    std::fprintf(file, "{\"ExitStatus\": %d, \"TotalSeconds\": %.6f, \"Stages\": [", Status,
                 TotalMs / 1000);
    for (size_t i = 0; i < Stages.size(); ++i) {
        std::fprintf(file, "%s{\"Stage\": \"%s\", \"StartMs\": %.3f, \"EndMs\": %.3f}",
                     i == 0 ? "" : ", ", Stages[i].Name, Stages[i].StartMs, Stages[i].EndMs);
    }
    std::fprintf(file, "]}\n");
    std::fclose(file);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bootload_reference TTY IMAGE [--model N] "
                             "[--last-address A] [--json FILE]\n");
        return 2;
    }
    uint16_t model = 5516;
    uint32_t lastAddress = 0xBFFF;
    const char* json = nullptr;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const unsigned long value = std::strtoul(argv[i + 1], nullptr, 0);
        if (option == "--model") {
            model = static_cast<uint16_t>(value);
        } else if (option == "--last-address" && value >= FirstAddress && value <= 0xFFFF &&
                   (value + 1) % PageSize == 0) {
            lastAddress = static_cast<uint32_t>(value);
        } else if (option == "--json") {
            json = argv[i + 1];
        } else {
            std::fprintf(stderr, "bootload_reference: bad option %s\n", option.c_str());
            return 2;
        }
    }
    std::ifstream file(argv[2], std::ios::binary);
    const std::vector<uint8_t> content{std::istreambuf_iterator<char>(file),
                                       std::istreambuf_iterator<char>()};
    const TImageReadResult image = ReadFirmwareImage(content, false);
    if (!file.is_open() || !image.Image) {
        std::fprintf(stderr, "bootload_reference: %s: %s\n", argv[2],
                     image.Image ? "cannot read" : image.Error.c_str());
        return 2;
    }
    const int tty = ::open(argv[1], O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) {
        std::fprintf(stderr, "bootload_reference: %s: %s\n", argv[1],
                     std::generic_category().message(errno).c_str());
        return 1;
    }
    TReference unit(tty, TClock::now());
    std::vector<TStage> stages;
    const bool ok = Update(unit, *image.Image, model, lastAddress, stages);
    ::close(tty);
    if (json != nullptr) {
        WriteJson(json, stages, unit.Ms(), ok ? 0 : 1);
    }
    return ok ? 0 : 1;
}
