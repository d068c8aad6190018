#include "cli/CliFleetView.h"

#include "cli/CliStation.h"
#include "cli/CliUnitRun.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>

namespace {

// The widest a port is shown in place: a longer name keeps its end ("...by-id/usb-A1-if00").
constexpr qsizetype PortColumnLimit = 24;
// The longest stage name ("Retrieving Bootloader Info").
constexpr int StageColumn = 26;

QString Shortened(const QString& Text, qsizetype Width) {
    return Text.size() <= Width ? Text : QStringLiteral("...") + Text.right(Width - 3);
}

void Put(FILE* Stream, const QString& Text) {
    std::fputs(Text.toLocal8Bit().constData(), Stream);
}

} // namespace

TCliFleetView::TCliFleetView(const std::vector<TCliUnitRun*>& Shown, FILE* Stream,
                             bool ShowProgress)
    : Units(Shown), Out(Stream), Progress(ShowProgress) {
    if (Progress) {
        Console = InPlaceConsole(Stream);
        // Lines that do not fit on the screen cannot be rewritten in place.
        if (Console && static_cast<int>(Units.size()) >= Console->Rows) {
            Console.reset();
        }
    }
    for (const TCliUnitRun* unit : Units) {
        PortWidth = std::max(PortWidth,
                             static_cast<int>(std::min(unit->Port.Name.size(), PortColumnLimit)));
    }
}

QString TCliFleetView::UnitLine(const TCliUnitRun& Unit) const {
    QString state;
    switch (Unit.State) {
    case TUnitState::Waiting:
        state = QStringLiteral("waiting");
        break;
    case TUnitState::Running:
        state = Unit.StageState.isEmpty() ? QStringLiteral("running") : Unit.StageState;
        break;
    case TUnitState::Ended:
        state = Unit.Outcome();
        break;
    }
    const QString percent = Unit.Percent >= 0 ? QStringLiteral("%1%").arg(Unit.Percent) : QString();
    const QString line = QStringLiteral("%1  %2  %3  %4")
                             .arg(Shortened(Unit.Port.Name, PortColumnLimit), -PortWidth)
                             .arg(Shortened(Unit.Stage, StageColumn), -StageColumn)
                             .arg(percent, 4)
                             .arg(state);
    // A line as wide as the console would move the cursor to the next one.
    return line.left(Console->Columns - 1);
}

void TCliFleetView::Draw() {
    for (const TCliUnitRun* unit : Units) {
        Put(Out, QStringLiteral("\r\x1b[2K") + UnitLine(*unit) + u'\n');
    }
    std::fflush(Out);
    Drawn = true;
}

void TCliFleetView::Erase() {
    if (Drawn) {
        std::fprintf(Out, "\x1b[%dA\r\x1b[J", static_cast<int>(Units.size()));
        std::fflush(Out);
        Drawn = false;
    }
}

void TCliFleetView::Changed() {
    if (!Console) {
        return;
    }
    if (Drawn) {
        std::fprintf(Out, "\x1b[%dA", static_cast<int>(Units.size()));
    }
    Draw();
}

void TCliFleetView::Line(const TCliUnitRun& Unit, const QString& Text) {
    if (Progress && !Console) {
        Put(Out, Unit.Port.Name + QStringLiteral(": ") + Text + u'\n');
        std::fflush(Out);
    }
}

void TCliFleetView::Message(const TCliUnitRun* Unit, const QString& Text) {
    // The unit's program names itself first ("bootload-cli: ..."): its port goes after.
    QString text = Text;
    if (Unit != nullptr) {
        const QString name =
            QFileInfo(QCoreApplication::applicationFilePath()).fileName() + QStringLiteral(": ");
        text = Unit->Port.Name + QStringLiteral(": ") +
               (text.startsWith(name) ? text.mid(name.size()) : text);
    }
    if (Console) {
        Erase();
    }
    PrintCliError(text);
    if (Console) {
        Draw();
    }
}

void TCliFleetView::Finish() {
    if (Console) {
        Changed();
    }
}
