// Prints the window title a build's numbers give (the product table's), for the desktop
// entry: bootload_product_title RM_NUM FW_VER
#include "shell/ProductTable.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: bootload_product_title RM_NUM FW_VER\n", stderr);
        return 2;
    }
    const auto model = static_cast<uint16_t>(std::strtoul(argv[1], nullptr, 0));
    const auto version = static_cast<uint16_t>(std::strtoul(argv[2], nullptr, 0));
    std::printf("%s\n", LookUpProduct(model, version).Title.c_str());
    return 0;
}
