#include "bench/StationProbe.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QMessageLogContext>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <vector>

namespace {

struct TLogEvent {
    double AtMs = 0;
    QString Text;
};

// A frame the serial component traced: a chunk its receive thread read, or a request it
// wrote.
struct TSerialMark {
    double AtMs = 0;
    bool Written = false;
};

// The handler is a plain function, so its state lives here. The containers are only
// touched on the GUI thread; the receive thread's marks reach it through the event
// queue.
struct TProbeState {
    QElapsedTimer Clock; // started before any other thread exists, read-only afterwards
    std::vector<TLogEvent> Events;
    std::vector<TSerialMark> SerialMarks;
    QStringList LowLatency;
    QtMessageHandler Previous = nullptr;
    bool Installed = false;
    std::atomic<bool> MarkSerial{false};
    std::atomic<bool> PassSerial{false}; // traced to standard error as well
};

TProbeState& State() {
    static TProbeState state;
    return state;
}

QString FilterRules(bool Serial) {
    return Serial ? QStringLiteral("bootload.log.info=true\nbootload.serial.debug=true")
                  : QStringLiteral("bootload.log.info=true\nbootload.serial.debug=false");
}

void MarkSerial(TProbeState& State, const QString& Text, double AtMs, bool OnGuiThread) {
    const bool written = Text.startsWith(QLatin1String("tx "));
    if (!written && !Text.startsWith(QLatin1String("rx "))) {
        return;
    }
    if (OnGuiThread) {
        State.SerialMarks.push_back({AtMs, written});
        return;
    }
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [AtMs, written] {
            ::State().SerialMarks.push_back({AtMs, written});
        },
        Qt::QueuedConnection);
}

void Capture(QtMsgType Type, const QMessageLogContext& Context, const QString& Text) {
    TProbeState& state = State();
    const double atMs = static_cast<double>(state.Clock.nsecsElapsed()) / 1e6;
    const char* category = Context.category != nullptr ? Context.category : "";
    const bool onGuiThread = QCoreApplication::instance() != nullptr &&
                             QThread::currentThread() == QCoreApplication::instance()->thread();
    if (qstrcmp(category, "bootload.serial") == 0) {
        if (state.MarkSerial.load()) {
            MarkSerial(state, Text, atMs, onGuiThread);
        }
        if (onGuiThread && (Text.contains(QStringLiteral("low latency"), Qt::CaseInsensitive) ||
                            Text.contains(QStringLiteral("low-latency"), Qt::CaseInsensitive))) {
            state.LowLatency.append(Text);
        }
        if (!state.PassSerial.load()) {
            return;
        }
    } else if (onGuiThread && qstrcmp(category, "bootload.log") == 0) {
        state.Events.push_back({atMs, Text});
        return;
    }
    if (state.Previous != nullptr) {
        state.Previous(Type, Context, Text);
    }
}

QString StageName(QString Line) {
    while (Line.endsWith(QLatin1Char('.'))) {
        Line.chop(1);
    }
    return Line;
}

} // namespace

TProcessUsage TProcessUsage::Now() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    TProcessUsage result;
    const auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_usec) / 1000.0;
    };
    result.CpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
    result.MaxRssKiB = usage.ru_maxrss;
    return result;
}

TStationProbe::TStationProbe() {
    TProbeState& state = State();
    state.Events.clear();
    state.SerialMarks.clear();
    state.LowLatency.clear();
    state.Clock.start();
    QLoggingCategory::setFilterRules(FilterRules(false));
    state.Previous = qInstallMessageHandler(Capture);
    state.Installed = true;
}

TStationProbe::~TStationProbe() {
    TProbeState& state = State();
    if (state.Installed) {
        qInstallMessageHandler(state.Previous);
        state.Installed = false;
    }
}

double TStationProbe::ElapsedMs() const {
    return static_cast<double>(State().Clock.nsecsElapsed()) / 1e6;
}

void TStationProbe::TraceSerial(bool On) {
    // BOOTLOAD_STATION_TRACE=1 keeps the serial traces on, to standard error.
    State().PassSerial = qEnvironmentVariableIntValue("BOOTLOAD_STATION_TRACE") == 1;
    QLoggingCategory::setFilterRules(FilterRules(On || State().PassSerial.load()));
}

void TStationProbe::MarkSerialTraffic(bool On) {
    State().MarkSerial = On;
    TraceSerial(On);
}

std::vector<double> TStationProbe::ProgramTurnarounds(double FromMs, double EndMs) const {
    std::vector<TSerialMark> marks = State().SerialMarks;
    std::stable_sort(marks.begin(), marks.end(),
                     [](const TSerialMark& A, const TSerialMark& B) { return A.AtMs < B.AtMs; });
    std::vector<double> turnarounds;
    std::optional<double> lastRead;
    for (const TSerialMark& mark : marks) {
        if (mark.AtMs < FromMs || mark.AtMs > EndMs) {
            continue;
        }
        if (!mark.Written) {
            lastRead = mark.AtMs;
        } else if (lastRead) {
            turnarounds.push_back(mark.AtMs - *lastRead);
            lastRead.reset();
        }
    }
    return turnarounds;
}

QStringList TStationProbe::LowLatencyLines() const {
    return State().LowLatency;
}

QList<TStageTime> TStationProbe::Stages(double FromMs, double EndMs) const {
    static const QString append = QStringLiteral("append: ");
    QList<TStageTime> stages;
    for (const TLogEvent& event : State().Events) {
        if (event.AtMs < FromMs || event.AtMs > EndMs || !event.Text.startsWith(append)) {
            continue;
        }
        if (!stages.isEmpty()) {
            stages.last().EndMs = event.AtMs;
        }
        stages.append({StageName(event.Text.mid(append.size())), event.AtMs, EndMs});
    }
    return stages;
}

QJsonArray TStationProbe::StagesJson(double FromMs, double EndMs) const {
    QJsonArray list;
    for (const TStageTime& stage : Stages(FromMs, EndMs)) {
        QJsonObject entry;
        entry.insert(QStringLiteral("Stage"), stage.Name);
        entry.insert(QStringLiteral("StartMs"), stage.StartMs - FromMs);
        entry.insert(QStringLiteral("Ms"), stage.EndMs - stage.StartMs);
        list.append(entry);
    }
    return list;
}
