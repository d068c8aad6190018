// One of several copies that the race test runs side by side in one folder: it plugs in
// its adapters one at a time, as the program finds them, and numbers each through
// RecordNewAdapters against the settings file every copy shares. It prints one line per
// number given: "COM<n>=<name> file" when recorded in the file, "COM<n>=<name> run" when
// kept for this run only.
//   settings_port_recorder SETTINGS-FILE FIRST-ADAPTER COUNT
#include "serial/PortNumbering.h"

#include <cstdio>

int main(int argc, char** argv) {
    bool firstOk = false;
    bool countOk = false;
    const int first = argc == 4 ? QByteArray(argv[2]).toInt(&firstOk) : 0;
    const int count = argc == 4 ? QByteArray(argv[3]).toInt(&countOk) : 0;
    if (!firstOk || !countOk) {
        std::fprintf(stderr, "usage: settings_port_recorder SETTINGS-FILE FIRST-ADAPTER COUNT\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    QList<TPresentPort> present;
    TSessionPortMap session;
    for (int number = first; number < first + count; ++number) {
        TPresentPort adapter;
        adapter.Device = QStringLiteral("/dev/ttyUSB%1").arg(number);
        adapter.SerialNumber = QStringLiteral("SN%1").arg(number);
        adapter.ById =
            QStringLiteral("/dev/serial/by-id/usb-Maker_UART_SN%1-if00-port0").arg(number);
        present << adapter;
        for (const TPortAssignment& assignment :
             RecordNewAdapters(path, present, session).Assigned) {
            std::printf("COM%u=%s %s\n", assignment.Port, qPrintable(assignment.Name),
                        session.contains(assignment.Port) ? "run" : "file");
        }
    }
    return 0;
}
