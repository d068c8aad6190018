// Writes a part of a raw image as an Intel HEX file, as a compiler writes a release that
// fills only part of program memory: the image of figure 7 of bench/run.
//
//   bootload_partial_hex IMAGE FIRST LAST OUT    bytes FIRST..LAST (hex or decimal) of
//                                                IMAGE, 16 to a record
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

void PutRecord(std::FILE* Out, unsigned Type, unsigned Offset, const uint8_t* Data, size_t Count) {
    unsigned sum = static_cast<unsigned>(Count) + (Offset >> 8) + (Offset & 0xFF) + Type;
    std::fprintf(Out, ":%02X%04X%02X", static_cast<unsigned>(Count), Offset, Type);
    for (size_t i = 0; i < Count; ++i) {
        std::fprintf(Out, "%02X", Data[i]);
        sum += Data[i];
    }
    std::fprintf(Out, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: bootload_partial_hex IMAGE FIRST LAST OUT\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    const unsigned long first = std::strtoul(argv[2], nullptr, 0);
    const unsigned long last = std::strtoul(argv[3], nullptr, 0);
    if (image.empty() || first > last || last >= image.size() || last > 0xFFFF) {
        std::fprintf(stderr, "bootload_partial_hex: no bytes %s..%s in %s\n", argv[2], argv[3],
                     argv[1]);
        return 1;
    }
    std::FILE* out = std::fopen(argv[4], "w");
    if (out == nullptr) {
        std::perror(argv[4]);
        return 1;
    }
    for (unsigned long address = first; address <= last; address += 16) {
        const size_t count = std::min<unsigned long>(16, last + 1 - address);
        PutRecord(out, 0x00, static_cast<unsigned>(address), image.data() + address, count);
    }
    PutRecord(out, 0x01, 0, nullptr, 0);
    if (std::fclose(out) != 0) {
        std::perror(argv[4]);
        return 1;
    }
    return 0;
}
