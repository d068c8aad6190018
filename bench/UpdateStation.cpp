// One benchmark station: the real main window, offscreen, started as the program starts
// it, in a working directory whose "Bootload.Ini" names the port, doing one thing and
// printing one line of JSON.
//
//   bootload_station DIR update [--last-address A] [--start-at MS] [--bound-s S]
//                               [--trace-serial] [--trace-exchange]
//       clicks Start (at MS, milliseconds since the epoch, when given: stations started
//       together begin together) and waits, at most S seconds, for the run to end: wall
//       time of each stage, the final log lines, CPU time and peak resident size
//   bootload_station DIR idle SECONDS
//       the window sits idle with its port open: CPU per wall second
//   bootload_station DIR wait SECONDS
//       model-number requests to a unit that never answers, one after the other, for at
//       least SECONDS: CPU per wall second while transactions wait
//
// --last-address sets the last program address the run erases and writes (this build's
// product fixes it otherwise). --trace-serial turns the serial traces on for the run and
// reports the program's own turnaround: from its receive thread's read of a reply to its
// write of the next request. --trace-exchange keeps the moment each step of every exchange
// was reached (serial/ExchangeTrace.h; the event loop's wake-ups too) in
// DIR/exchange-trace.tsv, a line "STEP NANOSECONDS" each, for bootload_figures exchange.
// The station is a harness; the program reads no options.
#include "bench/BenchMath.h"
#include "bench/StationProbe.h"
#include "serial/ExchangeTrace.h"
#include "shell/Main1.h"
#include "shell/ModalSeam.h"
#include "shell/StartUp.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

namespace {

constexpr int SettleMs = 1000; // start-up painting is over by then

struct TStationArgs {
    QString Dir;
    QString Mode;
    double Seconds = 0;
    std::optional<uint32_t> LastAddress;
    double BoundS = 300;
    std::optional<qint64> StartAtMs;
    bool TraceSerial = false;
    bool TraceExchange = false;
};

std::optional<TStationArgs> ParseArgs(const QStringList& Args, QString& Error) {
    if (Args.size() < 3) {
        Error =
            QStringLiteral("usage: bootload_station DIR update [--last-address A] "
                           "[--start-at MS] [--bound-s S] [--trace-serial] [--trace-exchange] | "
                           "DIR idle SECONDS | DIR wait SECONDS");
        return std::nullopt;
    }
    TStationArgs parsed;
    parsed.Dir = Args[1];
    parsed.Mode = Args[2];
    int next = 3;
    bool ok = true;
    if (parsed.Mode == QLatin1String("idle") || parsed.Mode == QLatin1String("wait")) {
        parsed.Seconds = Args.value(next++).toDouble(&ok);
        if (!ok || parsed.Seconds <= 0 || parsed.Seconds > 3600) {
            Error = QStringLiteral("SECONDS must be a number from 0 to 3600");
            return std::nullopt;
        }
    } else if (parsed.Mode != QLatin1String("update")) {
        Error = QStringLiteral("unknown mode ") + parsed.Mode;
        return std::nullopt;
    }
    for (; next < Args.size(); ++next) {
        const QString& option = Args[next];
        if (option == QLatin1String("--trace-serial")) {
            parsed.TraceSerial = true;
            continue;
        }
        if (option == QLatin1String("--trace-exchange")) {
            parsed.TraceExchange = true;
            continue;
        }
        const QString value = Args.value(++next);
        if (option == QLatin1String("--last-address")) {
            const uint32_t address = value.toUInt(&ok, 0);
            if (!ok || address < 0x0800 || address > 0xFFFF || (address + 1) % 512 != 0) {
                Error = QStringLiteral("--last-address must be one below a multiple of 512 "
                                       "within 0x0800..0xFFFF");
                return std::nullopt;
            }
            parsed.LastAddress = address;
        } else if (option == QLatin1String("--start-at")) {
            parsed.StartAtMs = value.toLongLong(&ok);
            if (!ok) {
                Error = QStringLiteral("--start-at takes milliseconds since the epoch");
                return std::nullopt;
            }
        } else if (option == QLatin1String("--bound-s")) {
            parsed.BoundS = value.toDouble(&ok);
            if (!ok || parsed.BoundS <= 0 || parsed.BoundS > 3600) {
                Error = QStringLiteral("--bound-s must be a number from 0 to 3600");
                return std::nullopt;
            }
        } else {
            Error = QStringLiteral("unknown option ") + option;
            return std::nullopt;
        }
    }
    return parsed;
}

void Print(const QJsonObject& Result) {
    const QByteArray line = QJsonDocument(Result).toJson(QJsonDocument::Compact);
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QJsonArray LogLines(const TMainForm& Form) {
    QJsonArray lines;
    for (int i = 0; i < Form.ListBox1->count(); ++i) {
        lines.append(Form.ListBox1->item(i)->text());
    }
    return lines;
}

// CPU per wall second over a span, in percent of one core.
void AddCost(QJsonObject& Result, const TProcessUsage& From, const TProcessUsage& To,
             double WallMs) {
    Result.insert(QStringLiteral("WallMs"), WallMs);
    Result.insert(QStringLiteral("CpuMs"), To.CpuMs - From.CpuMs);
    Result.insert(QStringLiteral("CpuPercent"),
                  WallMs > 0 ? 100.0 * (To.CpuMs - From.CpuMs) / WallMs : 0.0);
    Result.insert(QStringLiteral("MaxRssKiB"), static_cast<qint64>(To.MaxRssKiB));
}

void SaveExchangeTrace(const std::vector<TExchangeMark>& Marks) {
    FILE* file = std::fopen("exchange-trace.tsv", "w");
    if (file == nullptr) {
        std::cerr << "cannot write exchange-trace.tsv\n";
        return;
    }
    for (const TExchangeMark& mark : Marks) {
        std::fprintf(file, "%d\t%lld\n", static_cast<int>(mark.Step),
                     static_cast<long long>(mark.Ns));
    }
    std::fclose(file);
}

// Start clicked; the run ends when Start is enabled again with no run in progress.
class TRunWatch : public QObject {
public:
    TRunWatch(TMainForm& Window, TStationProbe& StationProbe, QJsonObject& Report)
        : Form(Window), Probe(StationProbe), Result(Report) {
        Form.Button6->installEventFilter(this);
    }
    void Begin(bool TraceSerial, bool TraceExchange) {
        Probe.MarkSerialTraffic(TraceSerial);
        if (TraceExchange) {
            TExchangeTrace::Begin(size_t{1} << 20);
            Tracing = true;
            QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                             this, [] { TExchangeTrace::Mark(TExchangeStep::DispatcherAwake); });
            QObject::connect(QAbstractEventDispatcher::instance(),
                             &QAbstractEventDispatcher::aboutToBlock, this,
                             [] { TExchangeTrace::Mark(TExchangeStep::DispatcherAsleep); });
        }
        StartMs = Probe.ElapsedMs();
        Before = TProcessUsage::Now();
        Form.Button6->click();
    }
    // Builds the result; Complete is false when the bound expired first.
    void Finish(bool Complete) {
        const double endMs = Probe.ElapsedMs();
        AddCost(Result, Before, TProcessUsage::Now(), endMs - StartMs);
        Result.insert(QStringLiteral("Complete"), Complete);
        Result.insert(QStringLiteral("Stages"), Probe.StagesJson(StartMs, endMs));
        Result.insert(QStringLiteral("Log"), LogLines(Form));
        const std::vector<double> turnarounds = Probe.ProgramTurnarounds(StartMs, endMs);
        if (!turnarounds.empty()) {
            double sum = 0;
            for (double t : turnarounds) {
                sum += t;
            }
            Result.insert(QStringLiteral("ProgramTurnaroundMs"),
                          QJsonObject{{"Median", Percentile(turnarounds, 0.5)},
                                      {"P99", Percentile(turnarounds, 0.99)},
                                      {"Max", Percentile(turnarounds, 1.0)},
                                      {"Mean", sum / static_cast<double>(turnarounds.size())},
                                      {"Count", static_cast<int>(turnarounds.size())}});
        }
        Probe.MarkSerialTraffic(false);
        if (Tracing) {
            SaveExchangeTrace(TExchangeTrace::End());
        }
    }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override {
        // The run's end enables Start a moment before it clears its running flag, so the
        // check is made once the event at hand has been handled.
        if (Watched == Form.Button6 && Event->type() == QEvent::EnabledChange) {
            QMetaObject::invokeMethod(
                this, [this] { CheckEnd(); }, Qt::QueuedConnection);
        }
        return false;
    }

    void CheckEnd() {
        if (!Done && Form.Button6->isEnabled() && !Form.RunInProgress()) {
            Done = true;
            Finish(true);
            QCoreApplication::exit(0);
        }
    }

private:
    TMainForm& Form;
    TStationProbe& Probe;
    QJsonObject& Result;
    double StartMs = 0;
    TProcessUsage Before;
    bool Done = false;
    bool Tracing = false;
};

int RunUpdate(TMainForm& Form, TStationProbe& Probe, const TStationArgs& Args,
              QJsonObject& Result) {
    if (Args.LastAddress) {
        Form.LastProgramAddress = *Args.LastAddress;
    }
    Result.insert(QStringLiteral("LastProgramAddress"),
                  QStringLiteral("0x%1").arg(Form.LastProgramAddress, 4, 16, QLatin1Char('0')));
    if (!Form.Button6->isEnabled()) {
        Result.insert(QStringLiteral("Error"), QStringLiteral("Start is disabled"));
        return 1;
    }
    qint64 startInMs = SettleMs;
    if (Args.StartAtMs) {
        // Never before start-up has settled, never more than a minute ahead.
        startInMs = std::clamp<qint64>(*Args.StartAtMs - QDateTime::currentMSecsSinceEpoch(),
                                       SettleMs, 60000);
    }
    TRunWatch watch(Form, Probe, Result);
    QTimer::singleShot(static_cast<int>(startInMs), &Form,
                       [&watch, &Args] { watch.Begin(Args.TraceSerial, Args.TraceExchange); });
    QTimer::singleShot(static_cast<int>(startInMs + Args.BoundS * 1000), &Form, [&] {
        // A run stuck inside a wait cannot be unwound from here: report and leave.
        watch.Finish(false);
        Result.insert(QStringLiteral("Error"), QStringLiteral("the run did not end in time"));
        Print(Result);
        std::_Exit(3);
    });
    return QApplication::exec();
}

int RunIdle(TStationProbe& Probe, const TStationArgs& Args, QJsonObject& Result) {
    double startMs = 0;
    TProcessUsage before;
    QTimer::singleShot(SettleMs, [&] {
        startMs = Probe.ElapsedMs();
        before = TProcessUsage::Now();
        QTimer::singleShot(static_cast<int>(Args.Seconds * 1000), [&] {
            AddCost(Result, before, TProcessUsage::Now(), Probe.ElapsedMs() - startMs);
            QCoreApplication::exit(0);
        });
    });
    return QApplication::exec();
}

int RunWait(TMainForm& Form, TStationProbe& Probe, const TStationArgs& Args, QJsonObject& Result) {
    QTimer::singleShot(SettleMs, &Form, [&] {
        const double startMs = Probe.ElapsedMs();
        const TProcessUsage before = TProcessUsage::Now();
        int requests = 0;
        int answered = 0;
        while (Probe.ElapsedMs() - startMs < Args.Seconds * 1000) {
            ++requests;
            if (Form.GetModelNumber() < 0x10000) {
                ++answered;
            }
        }
        AddCost(Result, before, TProcessUsage::Now(), Probe.ElapsedMs() - startMs);
        Result.insert(QStringLiteral("Requests"), requests);
        Result.insert(QStringLiteral("Answered"), answered);
        QCoreApplication::exit(0);
    });
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QString error;
    const std::optional<TStationArgs> args = ParseArgs(QApplication::arguments(), error);
    if (!args) {
        std::cerr << error.toStdString() << "\n";
        return 2;
    }
    if (!QDir::setCurrent(args->Dir)) {
        std::cerr << "cannot enter " << args->Dir.toStdString() << "\n";
        return 2;
    }
    // Any dialog the window asks for is answered at once and reported.
    QJsonArray dialogs;
    TModalSeam::SetHook([&dialogs](const TModalRequest& Request) {
        dialogs.append(Request.Text);
        TModalAnswer answer;
        answer.Result = QMessageBox::Ok;
        return answer;
    });

    TStationProbe probe;
    QJsonObject result;
    result.insert(QStringLiteral("Mode"), args->Mode);
    int code = 0;
    {
        const std::unique_ptr<TMainForm> window = MakeMainForm();
        TMainForm& form = *window;
        probe.TraceSerial(true);
        StartMainForm(form);
        probe.TraceSerial(false);
        if (args->Mode == QLatin1String("update")) {
            code = RunUpdate(form, probe, *args, result);
        } else if (args->Mode == QLatin1String("idle")) {
            code = RunIdle(probe, *args, result);
        } else {
            code = RunWait(form, probe, *args, result);
        }
    }
    result.insert(QStringLiteral("MaxRssKiB"), static_cast<qint64>(TProcessUsage::Now().MaxRssKiB));
    result.insert(QStringLiteral("LowLatency"),
                  QJsonArray::fromStringList(probe.LowLatencyLines()));
    result.insert(QStringLiteral("Dialogs"), dialogs);
    Print(result);
    TModalSeam::SetHook({});
    return code;
}
