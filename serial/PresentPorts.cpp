// What finding ports does alike on every system: the list the program uses (the system's,
// or one a test put in its place) and a port's description. The system's own listing is
// PortDiscovery.cpp (POSIX) or Win32PortDiscovery.cpp.
#include "serial/PortDiscovery.h"

namespace {

std::function<QList<TPresentPort>()>& Source() {
    static std::function<QList<TPresentPort>()> source;
    return source;
}

} // namespace

QList<TPresentPort> PresentPorts() {
    return Source() ? Source()() : EnumeratePresentPorts();
}

void SetPresentPortsSource(std::function<QList<TPresentPort>()> NewSource) {
    Source() = std::move(NewSource);
}

QString PortDescription(const TPresentPort& Port) {
    QString text = Port.Description.isEmpty() ? Port.Manufacturer : Port.Description;
    if (!Port.SerialNumber.isEmpty()) {
        text += text.isEmpty() ? Port.SerialNumber : QStringLiteral(" (%1)").arg(Port.SerialNumber);
    }
    return text;
}
