// The slowest Intel HEX files the reader accepts, read as the window's Load File and
// bootload-cli --image read them: 16 MiB of one-byte records, all at one address, at
// ascending addresses and at descending ones (no record continues the one before).
// Prints "SECONDS s (each file), peak RSS\tmet|missed" against a bound in seconds.
//
//   bootload_hex_read BOUND_SECONDS
#include "firmware/ImageFile.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string Record(uint32_t Type, uint32_t Offset, const std::vector<uint8_t>& Data) {
    uint32_t sum = static_cast<uint32_t>(Data.size()) + (Offset >> 8) + (Offset & 0xFF) + Type;
    char head[16];
    std::snprintf(head, sizeof head, ":%02X%04X%02X", static_cast<unsigned>(Data.size()),
                  static_cast<unsigned>(Offset), static_cast<unsigned>(Type));
    std::string line = head;
    for (const uint8_t byte : Data) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        line += digits;
        sum += byte;
    }
    char check[8];
    std::snprintf(check, sizeof check, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + check;
}

// One-byte records until the file is 16 MiB; Step is the address step (0: one address).
std::string OneByteRecords(int Step) {
    std::string text;
    uint32_t address = Step < 0 ? 0xFFFFFFu : 0x0800u;
    uint32_t upper = 0xFFFFFFFFu;
    const std::string end = Record(1, 0, {});
    while (text.size() + 64 < HexFileLimit) {
        if (address >> 16 != upper) {
            upper = address >> 16;
            text += Record(4, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
        }
        text += Record(0, address & 0xFFFF, {static_cast<uint8_t>(address)});
        address += static_cast<uint32_t>(Step);
    }
    return text + end;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s BOUND_SECONDS\n", argv[0]);
        return 2;
    }
    const double bound = std::strtod(argv[1], nullptr);
    std::string seconds;
    double slowest = 0;
    for (const int step : {0, 1, -1}) {
        const std::string text = OneByteRecords(step);
        const auto start = std::chrono::steady_clock::now();
        const TImageReadResult read = ReadFirmwareImage(
            std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), false);
        const double taken =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!read.Image) {
            std::printf("refused: %s\tmissed\n", read.Error.c_str());
            return 1;
        }
        char figure[32];
        std::snprintf(figure, sizeof figure, "%s%.2f", seconds.empty() ? "" : " / ", taken);
        seconds += figure;
        slowest = std::max(slowest, taken);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%s s (one address / ascending / descending), peak RSS %ld MiB\t%s\n",
                seconds.c_str(), usage.ru_maxrss / 1024, slowest <= bound ? "met" : "missed");
    return 0;
}
