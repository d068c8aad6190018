// unitsim: the simulated instrument as a program (see --help).
#include "tools/unitsim/SimOptions.h"
#include "tools/unitsim/UnitSim.h"

#include <QSaveFile>

#include <csignal>
#include <cstdio>
#include <iostream>

namespace {

bool WriteReport(const TUnitSim& Unit, const TSimOptions& Options) {
    if (Options.ReportPath.empty()) {
        return true;
    }
    const std::string json = Unit.ReportJson(Options.Digests);
    if (Options.ReportPath == "-") {
        std::cout << json << std::flush;
        return true;
    }
    QSaveFile file(QString::fromStdString(Options.ReportPath));
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(json.data(), static_cast<qint64>(json.size())) !=
            static_cast<qint64>(json.size()) ||
        !file.commit()) {
        std::cerr << "unitsim: cannot write the report to " << Options.ReportPath << "\n";
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    TSimOptions options;
    std::string error;
    if (!ParseSimOptions({argv + 1, argv + argc}, options, error)) {
        std::cerr << "unitsim: " << error << "\n";
        return 2;
    }
    if (options.Help) {
        std::cout << SimHelpText();
        return 0;
    }

    // Signals are taken synchronously by this thread only; the unit's thread, started
    // below, inherits the mask.
    sigset_t taken;
    sigemptyset(&taken);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) {
        sigaddset(&taken, signal);
    }
    pthread_sigmask(SIG_BLOCK, &taken, nullptr);

    TUnitSim unit(options.Config);
    if (!unit.Start()) {
        std::cerr << "unitsim: " << unit.LastError() << "\n";
        return 1;
    }
    if (!options.IniDir.empty() && !unit.WritePortMap(options.IniDir, options.ComNumber)) {
        std::cerr << "unitsim: cannot write " << options.IniDir << "/Bootload.Ini\n";
        return 1;
    }
    std::cout << unit.SlavePath() << std::endl;
    if (!unit.LinkPath().empty()) {
        std::cerr << "unitsim: " << unit.LinkPath() << " -> " << unit.SlavePath() << "\n";
    }

    while (true) {
        siginfo_t info{};
        const int signal = sigwaitinfo(&taken, &info);
        if (signal == SIGUSR1) {
            WriteReport(unit, options);
            continue;
        }
        if (signal > 0) {
            break;
        }
    }
    unit.Stop();
    return WriteReport(unit, options) ? 0 : 1;
}
