#include "cli/CliLogFollower.h"

#include <QListWidget>
#include <QRegularExpression>

namespace {

// The percentage a progress line ends with, or -1.
int Percentage(const QString& Stage, const QString& Text) {
    static const QRegularExpression percent(QStringLiteral("^([0-9]{1,3})%$"));
    if (!Text.startsWith(Stage)) {
        return -1;
    }
    const QRegularExpressionMatch match = percent.match(Text.mid(Stage.size()));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

} // namespace

QString TCliStage::Outcome() const {
    return Line.startsWith(Stage) ? Line.mid(Stage.size()) : Line;
}

TCliLogFollower::TCliLogFollower(QListWidget* Log, FILE* Stream, TCliPrintMode PrintMode)
    : QObject(Log), List(Log), Out(Stream), Mode(PrintMode) {
    Clock.start();
    const QAbstractItemModel* model = Log->model();
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int First, int Last) {
                for (int row = First; row <= Last; ++row) {
                    Appended(this->List->item(row)->text());
                }
            });
    connect(model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex&, const QModelIndex& BottomRight) {
                const int last = this->List->count() - 1;
                if (BottomRight.row() == last && this->List->item(last)->text() != Current) {
                    Replaced(this->List->item(last)->text());
                }
            });
    connect(model, &QAbstractItemModel::modelReset, this, [this] { Cleared(); });
    connect(model, &QAbstractItemModel::rowsRemoved, this, [this] {
        if (this->List->count() == 0) {
            Cleared();
        }
    });
}

double TCliLogFollower::ElapsedMs() const {
    return static_cast<double>(Clock.nsecsElapsed()) / 1e6;
}

QStringList TCliLogFollower::Lines() const {
    QStringList lines;
    for (int row = 0; row < List->count(); ++row) {
        lines << List->item(row)->text();
    }
    return lines;
}

void TCliLogFollower::Appended(const QString& Text) {
    const double now = ElapsedMs();
    if (!StageList.empty()) {
        StageList.back().EndMs = now;
        PrintFinal();
    }
    StageList.push_back({Text, Text, now, now});
    Current = Text;
    LastDecade = -1;
    if (Mode == TCliPrintMode::Terminal) {
        if (InPlaceWidth >= 0) {
            std::fputc('\n', Out);
        }
        InPlaceWidth = 0;
        Print(Text);
    }
}

void TCliLogFollower::Replaced(const QString& Text) {
    if (StageList.empty()) {
        Appended(Text);
        return;
    }
    StageList.back().Line = Text;
    StageList.back().EndMs = ElapsedMs();
    Current = Text;
    if (Mode == TCliPrintMode::Terminal) {
        Print(Text);
    } else if (Mode == TCliPrintMode::Lines) {
        const int percent = Percentage(StageList.back().Stage, Text);
        if (percent >= 0 && percent / 10 != LastDecade) {
            LastDecade = percent / 10;
            Print(Text);
        }
    }
}

void TCliLogFollower::Cleared() {
    if (!StageList.empty()) {
        PrintFinal();
    }
    if (Mode == TCliPrintMode::Terminal && InPlaceWidth >= 0) {
        std::fputc('\n', Out);
        InPlaceWidth = -1;
    }
    StageList.clear();
    Current.clear();
}

void TCliLogFollower::Finish() {
    if (!StageList.empty()) {
        StageList.back().EndMs = ElapsedMs();
        PrintFinal();
    }
    if (Mode == TCliPrintMode::Terminal && InPlaceWidth >= 0) {
        std::fputc('\n', Out);
        InPlaceWidth = -1;
    }
    std::fflush(Out);
}

// The line being left is final: printed once (Lines).
void TCliLogFollower::PrintFinal() {
    if (Mode == TCliPrintMode::Lines && Current != LastPrinted) {
        Print(Current);
    }
}

void TCliLogFollower::Print(const QString& Text) {
    const QByteArray bytes = Text.toLocal8Bit();
    if (Mode == TCliPrintMode::Terminal) {
        // Back to the start of the line; blanks over what a longer text left.
        const int width = static_cast<int>(Text.size());
        std::fprintf(Out, "\r%s%*s", bytes.constData(), std::max(0, InPlaceWidth - width), "");
        if (InPlaceWidth > width) {
            std::fprintf(Out, "\r%s", bytes.constData());
        }
        InPlaceWidth = width;
    } else {
        std::fprintf(Out, "%s\n", bytes.constData());
        LastPrinted = Text;
    }
    std::fflush(Out);
}
