// The embedded image's layout, carried in the build beside the image (resource "HLAYOUT"):
// whether the build's image came as a raw image or as a HEX file, and for a HEX file the
// addresses it gave data for, from which the block flags follow. Text, one item a line:
//
//   raw
//
//   hex
//   000800-0017FF
//   300000-30000D
#pragma once

#include "firmware/ImageFile.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TImageLayout {
    TImageFormat Format = TImageFormat::Raw;
    std::vector<TAddressRange> Given; // HEX only
};

std::string WriteImageLayout(const TImageLayout& Layout);
// Nothing for a text that is no layout.
std::optional<TImageLayout> ReadImageLayout(std::string_view Text);
