#include "cli/CliPorts.h"

#include "serial/PortMap.h"
#include "shell/Settings.h"

#include <QFileInfo>

namespace {
constexpr unsigned LastListedPort = 32;
}

int ListPorts(const QString& SettingsDir, FILE* Out) {
    const QString mapFile = SettingsDir + SettingsFileName;
    for (unsigned port = 1; port <= LastListedPort; ++port) {
        const QString device = PortDevicePath(port, mapFile);
        if (QFileInfo::exists(device)) {
            std::fprintf(Out, "COM%u\t%s\n", port, device.toLocal8Bit().constData());
        }
    }
    std::fflush(Out);
    return 0;
}
