#include "cli/CliPorts.h"

#include "shell/Main1.h"
#include "shell/commsel.h"

#include <QFileInfo>

int ListPorts(TMainForm& Form, FILE* Out) {
    Form.NumberNewPorts();
    const QList<TPortListing> listings = Form.PortListings();
    int listed = 0;
    for (qsizetype index = 0; index < listings.size(); ++index) {
        const TPortListing& listing = listings[index];
        if (listing.Device.isEmpty()) {
            continue;
        }
        // A [Ports] line for a device that is not there now is listed as such.
        QString description = listing.Description;
        if (!listing.Present && !QFileInfo::exists(listing.Device)) {
            description = QStringLiteral("(not connected)");
        }
        // No tab after the device when there is no description.
        QString line = QStringLiteral("COM%1\t%2").arg(index + 1).arg(listing.Device);
        if (!description.isEmpty()) {
            line += u'\t' + description;
        }
        std::fprintf(Out, "%s\n", line.toLocal8Bit().constData());
        ++listed;
    }
    if (listed == 0) {
        std::fprintf(stderr, "No serial ports found\n");
    }
    std::fflush(Out);
    return 0;
}
