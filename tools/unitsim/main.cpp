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
    const std::string Json = Unit.ReportJson(Options.Digests);
    if (Options.ReportPath == "-") {
        std::cout << Json << std::flush;
        return true;
    }
    QSaveFile File(QString::fromStdString(Options.ReportPath));
    if (!File.open(QIODevice::WriteOnly) ||
        File.write(Json.data(), static_cast<qint64>(Json.size())) !=
            static_cast<qint64>(Json.size()) ||
        !File.commit()) {
        std::cerr << "unitsim: cannot write the report to " << Options.ReportPath << "\n";
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    TSimOptions Options;
    std::string Error;
    if (!ParseSimOptions({argv + 1, argv + argc}, Options, Error)) {
        std::cerr << "unitsim: " << Error << "\n";
        return 2;
    }
    if (Options.Help) {
        std::cout << SimHelpText();
        return 0;
    }

    // Signals are taken synchronously by this thread only; the unit's thread, started
    // below, inherits the mask.
    sigset_t Signals;
    sigemptyset(&Signals);
    for (int Signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) {
        sigaddset(&Signals, Signal);
    }
    pthread_sigmask(SIG_BLOCK, &Signals, nullptr);

    TUnitSim Unit(Options.Config);
    if (!Unit.Start()) {
        std::cerr << "unitsim: " << Unit.LastError() << "\n";
        return 1;
    }
    if (!Options.IniDir.empty() && !Unit.WritePortMap(Options.IniDir, Options.ComNumber)) {
        std::cerr << "unitsim: cannot write " << Options.IniDir << "/Bootload.Ini\n";
        return 1;
    }
    std::cout << Unit.SlavePath() << std::endl;
    if (!Unit.LinkPath().empty()) {
        std::cerr << "unitsim: " << Unit.LinkPath() << " -> " << Unit.SlavePath() << "\n";
    }

    while (true) {
        siginfo_t Info{};
        const int Signal = sigwaitinfo(&Signals, &Info);
        if (Signal == SIGUSR1) {
            WriteReport(Unit, Options);
            continue;
        }
        if (Signal > 0) {
            break;
        }
    }
    Unit.Stop();
    return WriteReport(Unit, Options) ? 0 : 1;
}
