// Build-time converter: turns the build's FIRMWARE_IMAGE, a raw image of exactly 64 KiB or
// an Intel HEX file, into the resources the program carries: "HFILE" (the 64 KiB image;
// for a HEX file 0xFF wherever it gives no byte) and "HLAYOUT" (how the image came and,
// for a HEX file, what it gave: the block flags follow from it). With the processor's
// program memory known, a HEX file without data in it is refused, and data it gives
// outside it is reported as left out.
//
//   bootload_convert_image IMAGE PROC_NUM OUTPUT_DIR
#include "firmware/ImageFile.h"
#include "firmware/ImageLayout.h"
#include "firmware/ImageSelection.h"
#include "shell/ProductTable.h"
#include "upgrade/ProgramRange.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

std::optional<std::vector<uint8_t>> ReadWhole(const std::string& Path, bool& Truncated) {
    std::ifstream file(Path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::vector<uint8_t> bytes(HexFileLimit + 1);
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (file.bad()) {
        return std::nullopt;
    }
    bytes.resize(static_cast<size_t>(file.gcount()));
    Truncated = bytes.size() > HexFileLimit;
    if (Truncated) {
        bytes.resize(HexFileLimit);
    }
    return bytes;
}

bool WriteFile(const std::string& Path, const void* Bytes, size_t Count) {
    std::ofstream file(Path, std::ios::binary | std::ios::trunc);
    file.write(static_cast<const char*>(Bytes), static_cast<std::streamsize>(Count));
    file.close();
    if (!file) {
        std::remove(Path.c_str());
        return false;
    }
    return true;
}

int Fail(const std::string& Image, const std::string& Why) {
    std::fprintf(stderr, "FIRMWARE_IMAGE '%s': %s\n", Image.c_str(), Why.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s IMAGE PROC_NUM OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    const std::string outDir = argv[3];
    char* end = nullptr;
    const long processor = std::strtol(argv[2], &end, 10);
    if (end == argv[2] || *end != '\0' || processor < 0 || processor > 65535) {
        std::fprintf(stderr, "%s: '%s' is not a processor number\n", argv[0], argv[2]);
        return 2;
    }

    bool truncated = false;
    const std::optional<std::vector<uint8_t>> content = ReadWhole(path, truncated);
    if (!content) {
        return Fail(path, "cannot be read");
    }
    const TImageReadResult read = ReadFirmwareImage(*content, truncated);
    if (!read.Image) {
        return Fail(path, read.Error);
    }
    const TFirmwareImage& image = *read.Image;
    if (image.Format == TImageFormat::Raw && (content->size() != ImageBufferSize || truncated)) {
        return Fail(path, "is " + std::to_string(content->size()) + (truncated ? "+" : "") +
                              " bytes; a raw image must be exactly 65536 bytes");
    }
    TImageLayout layout;
    layout.Format = image.Format;
    if (image.Format == TImageFormat::IntelHex) {
        layout.Given = image.Given;
    }

    // The processor's program memory, where the table knows it.
    if (const std::optional<uint32_t> last = ProgramLimitFor(static_cast<uint16_t>(processor))) {
        const TImageSelection selection =
            SelectForProgram(image.Format, image.Given, image.BlockPresent, *last);
        if (selection.BlocksSent == 0) {
            return Fail(path, NoProgramDataText(*last));
        }
        std::printf("FIRMWARE_IMAGE '%s': %s, %u of the %u blocks of program memory %s\n",
                    path.c_str(), ImageFormatName(image.Format), selection.BlocksSent,
                    selection.BlocksInRange, RangeText({FirstProgramAddress, *last}).c_str());
        if (const std::string leftOut = LeftOutText(selection, *last); !leftOut.empty()) {
            std::printf("FIRMWARE_IMAGE '%s': %s\n", path.c_str(), leftOut.c_str());
        }
    }

    const std::string layoutText = WriteImageLayout(layout);
    if (!WriteFile(outDir + "/HFILE", image.Bytes.data(), image.Bytes.size()) ||
        !WriteFile(outDir + "/HLAYOUT", layoutText.data(), layoutText.size())) {
        std::fprintf(stderr, "%s: cannot write the resources in %s\n", argv[0], outDir.c_str());
        return 1;
    }
    return 0;
}
