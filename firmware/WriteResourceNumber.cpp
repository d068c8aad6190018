// Build-time helper: writes one identity number, given in decimal, as the 2-byte
// little-endian resource the program reads at start-up.
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s VALUE FILE\n", argv[0]);
        return 2;
    }
    char* end = nullptr;
    const long value = std::strtol(argv[1], &end, 10);
    if (end == argv[1] || *end != '\0' || value < 0 || value > 65535) {
        std::fprintf(stderr, "%s: '%s' is not a number from 0 to 65535\n", argv[0], argv[1]);
        return 2;
    }
    const unsigned char bytes[2] = {static_cast<unsigned char>(value & 0xFF),
                                    static_cast<unsigned char>((value >> 8) & 0xFF)};
    std::FILE* f = std::fopen(argv[2], "wb");
    if (f == nullptr || std::fwrite(bytes, 1, 2, f) != 2 || std::fclose(f) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
