// The benchmark table's figures, from the stations' JSON lines and the simulated units'
// reports. Each command prints one line: the figure, a tab, and "met" or "missed".
//
//   bootload_figures wire STATION SIMREPORT TARGET
//       erase and write stages' wall time / the time their bytes need on the wire
//   bootload_figures turnaround TARGET_MEDIAN_MS TARGET_P99_MS SIMREPORT...
//       from the unit's sending the last byte of a reply to its reading the first byte
//       of the next request, over every exchange (reports of runs without pacing)
//   bootload_figures program TARGET_MEDIAN_MS TARGET_P99_MS STATION SIMREPORT
//       the program's own turnaround (a station run with --trace-serial), and the share
//       of the run's wire time it adds
//   bootload_figures cpu STATION TARGET_PERCENT
//   bootload_figures rss STATION TARGET_MIB
//   bootload_figures parallel TARGET LONE_STATION STATION...
//       the slowest station's wall time / the lone station's
//   bootload_figures units TARGET LONE_REPORT COMMAND_REPORT PEAK_KIB CPU_SECONDS
//       one bootload-cli command updating several units: its slowest unit's time (from its
//       report, as a single run's) / a lone run's, with the command's peak memory (its
//       own and its units' programs', proportional set size) and CPU time, each per unit
//   bootload_figures lowlatency STATION
//       what the serial component logged about low-latency mode when it opened the port
//   bootload_figures partial FULL_REPORT PART_REPORT MARGIN
//       bootload-cli's update with a release filling part of program memory against one
//       with the whole image: time and write stage time against the share of blocks sent;
//       met when the write stage takes at most the blocks' share plus MARGIN
//   bootload_figures remote TARGET LOCAL_REPORT REMOTE_REPORT [LOCAL_REPORT REMOTE_REPORT...]
//       bootload-cli's erase and write stages through a device server (ser2net over
//       loopback) against the same stages on the local pty, from pairs of paced updates
//       run one after the other: the ratio of the medians; met when at most TARGET
//   bootload_figures versus turnaround|span REFERENCE_REPORT... -- WINDOW_REPORT... --
//                           CLI_REPORT...
//       the window and bootload-cli against the minimal single-threaded updater, each from
//       the unit's reports of its runs: the median over its runs of each run's turnaround
//       p50 (runs without pacing), or of its erase and write span (paced runs); met when
//       neither program's is above the reference's
//   bootload_figures exchange TRACE SIMREPORT [paced]
//       where the turnaround goes: the median of each step of an exchange, from a station's
//       exchange trace (--trace-exchange) and the unit's report of the same run
//   bootload_figures gbench JSON
//       one line per Google Benchmark result: name, a tab, time and throughput
#include "bench/BenchMath.h"
#include "bench/ExchangeSteps.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

std::optional<QJsonObject> ReadJson(const QString& Path) {
    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "bootload_figures: cannot read %s\n", qPrintable(Path));
        return std::nullopt;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (!document.isObject()) {
        std::fprintf(stderr, "bootload_figures: %s: %s\n", qPrintable(Path),
                     qPrintable(error.errorString()));
        return std::nullopt;
    }
    return document.object();
}

const char* Verdict(bool Met) {
    return Met ? "met" : "missed";
}

// A station's line, or the report of bootload-cli (complete: exit status 0).
bool Complete(const QJsonObject& Station, const QString& Path) {
    if (Station.value(QStringLiteral("Complete")).toBool() ||
        Station.value(QStringLiteral("ExitStatus")) == QJsonValue(0)) {
        return true;
    }
    std::fprintf(stderr, "bootload_figures: %s: the run did not complete\n", qPrintable(Path));
    return false;
}

// Wall time of the run, from Start to its end: a station's WallMs, or bootload-cli's
// TotalSeconds.
double RunWallMs(const QJsonObject& Station) {
    if (Station.contains(QStringLiteral("TotalSeconds"))) {
        return Station.value(QStringLiteral("TotalSeconds")).toDouble() * 1000;
    }
    return Station.value(QStringLiteral("WallMs")).toDouble();
}

int Wire(const QStringList& Args) {
    const auto station = ReadJson(Args.value(0));
    const auto report = ReadJson(Args.value(1));
    const double target = Args.value(2).toDouble();
    if (!station || !report || !Complete(*station, Args.value(0))) {
        return 1;
    }
    const TWireFigure figure = WireFigure(*station, *report);
    if (!figure.Valid) {
        std::fprintf(stderr, "bootload_figures: no erase or write stage to measure\n");
        return 1;
    }
    double meanGap = 0;
    for (double gap : figure.Gaps) {
        meanGap += gap / static_cast<double>(figure.Gaps.size());
    }
    std::printf("%.3f (%.0f ms / %.0f ms on the wire, %d exchanges; gap after a reply: "
                "median %.2f ms, mean %.2f ms)\t%s\n",
                figure.Ratio(), figure.StagesMs, figure.WireMs, figure.Exchanges,
                figure.Gaps.empty() ? 0.0 : Percentile(figure.Gaps, 0.5), meanGap,
                Verdict(figure.Ratio() <= target));
    return 0;
}

int Turnaround(const QStringList& Args) {
    const double targetMedian = Args.value(0).toDouble();
    const double targetP99 = Args.value(1).toDouble();
    std::vector<double> gaps;
    for (const QString& path : Args.mid(2)) {
        const auto report = ReadJson(path);
        if (!report) {
            return 1;
        }
        const std::vector<double> more = TurnaroundGaps(*report);
        gaps.insert(gaps.end(), more.begin(), more.end());
    }
    if (gaps.empty()) {
        std::fprintf(stderr, "bootload_figures: no exchange to measure\n");
        return 1;
    }
    const double median = Percentile(gaps, 0.5);
    const double p99 = Percentile(gaps, 0.99);
    const double worst = *std::max_element(gaps.begin(), gaps.end());
    std::printf("median %.3f ms, p99 %.3f ms (max %.1f ms, %zu exchanges)\t%s\n", median, p99,
                worst, gaps.size(), Verdict(median < targetMedian && p99 < targetP99));
    return 0;
}

int Program(const QStringList& Args) {
    const auto station = ReadJson(Args.value(2));
    const auto report = ReadJson(Args.value(3));
    if (!station || !report || !Complete(*station, Args.value(2))) {
        return 1;
    }
    const QJsonObject turnaround = station->value(QStringLiteral("ProgramTurnaroundMs")).toObject();
    const int count = turnaround.value(QStringLiteral("Count")).toInt();
    double wireMs = 0;
    for (const TReportFrame& frame : ReportFrames(*report)) {
        wireMs += FrameWireMs(frame);
    }
    if (count == 0 || wireMs <= 0) {
        std::fprintf(stderr, "bootload_figures: no traced exchange\n");
        return 1;
    }
    const double median = turnaround.value(QStringLiteral("Median")).toDouble();
    const double p99 = turnaround.value(QStringLiteral("P99")).toDouble();
    const double mean = turnaround.value(QStringLiteral("Mean")).toDouble();
    std::printf("median %.3f ms, p99 %.3f ms, mean %.3f ms over %d exchanges: +%.2f %% of "
                "the wire time\t%s\n",
                median, p99, mean, count, 100.0 * mean * count / wireMs,
                Verdict(median < Args.value(0).toDouble() && p99 < Args.value(1).toDouble()));
    return 0;
}

int Cpu(const QStringList& Args) {
    const auto station = ReadJson(Args.value(0));
    if (!station) {
        return 1;
    }
    const double percent = station->value(QStringLiteral("CpuPercent")).toDouble();
    const double target = Args.value(1).toDouble();
    QString detail =
        QStringLiteral("%1 ms CPU in %2 s")
            .arg(station->value(QStringLiteral("CpuMs")).toDouble(), 0, 'f', 1)
            .arg(station->value(QStringLiteral("WallMs")).toDouble() / 1000, 0, 'f', 1);
    if (station->contains(QStringLiteral("Requests"))) {
        detail += QStringLiteral(", %1 requests unanswered")
                      .arg(station->value(QStringLiteral("Requests")).toInt() -
                           station->value(QStringLiteral("Answered")).toInt());
    }
    std::printf("%.3f %% of one core (%s)\t%s\n", percent, qPrintable(detail),
                Verdict(percent < target));
    return 0;
}

int Rss(const QStringList& Args) {
    const auto station = ReadJson(Args.value(0));
    if (!station || !Complete(*station, Args.value(0))) {
        return 1;
    }
    const double mib = station->value(QStringLiteral("MaxRssKiB")).toDouble() / 1024.0;
    std::printf("%.1f MiB\t%s\n", mib, Verdict(mib < Args.value(1).toDouble()));
    return 0;
}

int Parallel(const QStringList& Args) {
    const double target = Args.value(0).toDouble();
    const auto lone = ReadJson(Args.value(1));
    if (!lone || !Complete(*lone, Args.value(1))) {
        return 1;
    }
    double slowest = 0;
    int stations = 0;
    for (const QString& path : Args.mid(2)) {
        const auto station = ReadJson(path);
        if (!station || !Complete(*station, path)) {
            return 1;
        }
        slowest = std::max(slowest, RunWallMs(*station));
        ++stations;
    }
    const double loneMs = RunWallMs(*lone);
    if (stations == 0 || loneMs <= 0) {
        return 1;
    }
    const double ratio = slowest / loneMs;
    std::printf("%.3f (slowest of %d %.0f ms, lone %.0f ms)\t%s\n", ratio, stations, slowest,
                loneMs, Verdict(ratio <= target));
    return 0;
}

int Units(const QStringList& Args) {
    const double target = Args.value(0).toDouble();
    const auto lone = ReadJson(Args.value(1));
    const auto command = ReadJson(Args.value(2));
    if (!lone || !command || !Complete(*lone, Args.value(1))) {
        return 1;
    }
    const QJsonArray units = command->value(QStringLiteral("Units")).toArray();
    double slowest = 0;
    for (const auto& unit : units) {
        if (!Complete(unit.toObject(), Args.value(2))) {
            return 1;
        }
        slowest = std::max(slowest, RunWallMs(unit.toObject()));
    }
    const double loneMs = RunWallMs(*lone);
    if (units.isEmpty() || loneMs <= 0) {
        return 1;
    }
    const double count = static_cast<double>(units.size());
    const double ratio = slowest / loneMs;
    std::printf("%.3f (slowest of %d %.0f ms, lone %.0f ms; command %.1f s); peak %.0f MiB, "
                "%.1f MiB a unit; CPU %.2f s a unit\t%s\n",
                ratio, static_cast<int>(units.size()), slowest, loneMs,
                command->value(QStringLiteral("Summary"))
                    .toObject()
                    .value(QStringLiteral("TotalSeconds"))
                    .toDouble(),
                Args.value(3).toDouble() / 1024, Args.value(3).toDouble() / 1024 / count,
                Args.value(4).toDouble() / count, Verdict(ratio <= target));
    return 0;
}

int LowLatency(const QStringList& Args) {
    const auto station = ReadJson(Args.value(0));
    if (!station) {
        return 1;
    }
    QStringList lines;
    for (const auto& value : station->value(QStringLiteral("LowLatency")).toArray()) {
        lines.append(value.toString());
    }
    // Asked for on every open; granted or refused is up to the driver (a pty has none).
    std::printf("%s\t%s\n",
                lines.isEmpty() ? "nothing logged" : qPrintable(lines.join(QStringLiteral("; "))),
                Verdict(!lines.isEmpty()));
    return 0;
}

int Partial(const QStringList& Args) {
    const auto full = ReadJson(Args.value(0));
    const auto part = ReadJson(Args.value(1));
    if (!full || !part || !Complete(*full, Args.value(0)) || !Complete(*part, Args.value(1))) {
        return 1;
    }
    const TPartialFigure figure = PartialFigure(*full, *part);
    if (!figure.Valid) {
        std::fprintf(stderr, "bootload_figures: no write stage or block count to compare\n");
        return 1;
    }
    std::printf("%.2f of the whole image's time (%.0f ms / %.0f ms); writing %.2f (%.0f ms / "
                "%.0f ms) for %.1f %% of the blocks (%d / %d)\t%s\n",
                figure.TimeRatio(), figure.PartMs, figure.FullMs, figure.WriteRatio(),
                figure.PartWriteMs, figure.FullWriteMs, 100 * figure.BlockShare(),
                figure.PartBlocks, figure.FullBlocks,
                Verdict(figure.WriteRatio() <= figure.BlockShare() + Args.value(2).toDouble()));
    return 0;
}

int Remote(const QStringList& Args) {
    const double target = Args.value(0).toDouble();
    std::vector<double> local;
    std::vector<double> remote;
    for (qsizetype i = 1; i + 1 < Args.size(); i += 2) {
        const auto localReport = ReadJson(Args[i]);
        const auto remoteReport = ReadJson(Args[i + 1]);
        if (!localReport || !remoteReport || !Complete(*localReport, Args[i]) ||
            !Complete(*remoteReport, Args[i + 1])) {
            return 1;
        }
        local.push_back(ReportEraseWriteMs(*localReport));
        remote.push_back(ReportEraseWriteMs(*remoteReport));
        if (local.back() <= 0 || remote.back() <= 0) {
            std::fprintf(stderr, "bootload_figures: no erase or write stage in %s or %s\n",
                         qPrintable(Args[i]), qPrintable(Args[i + 1]));
            return 1;
        }
    }
    if (local.empty()) {
        return 1;
    }
    const double localMs = Percentile(local, 0.5);
    const double remoteMs = Percentile(remote, 0.5);
    const double ratio = remoteMs / localMs;
    std::printf("%.3f (remote %.0f ms, local pty %.0f ms; medians of %zu pairs)\t%s\n", ratio,
                remoteMs, localMs, local.size(), Verdict(ratio <= target));
    return 0;
}

int GoogleBenchmark(const QStringList& Args) {
    const auto results = ReadJson(Args.value(0));
    if (!results) {
        return 1;
    }
    for (const auto& value : results->value(QStringLiteral("benchmarks")).toArray()) {
        const QJsonObject entry = value.toObject();
        const double bytesPerSecond = entry.value(QStringLiteral("bytes_per_second")).toDouble();
        std::printf("%s\t%.1f ns CPU per run, %.0f MB/s\n",
                    qPrintable(entry.value(QStringLiteral("name")).toString()),
                    entry.value(QStringLiteral("cpu_time")).toDouble(), bytesPerSecond / 1e6);
    }
    return 0;
}

// The median over Paths' reports of each one's figure: its turnaround p50 (Span false) or
// its erase and write span; -1 when a report lacks it.
double MedianOfRuns(const QStringList& Paths, bool Span) {
    std::vector<double> values;
    for (const QString& path : Paths) {
        const std::optional<QJsonObject> report = ReadJson(path);
        if (!report) {
            return -1;
        }
        double value = -1;
        if (Span) {
            value = EraseWriteSpanMs(*report);
        } else if (const std::vector<double> gaps = TurnaroundGaps(*report); !gaps.empty()) {
            value = Percentile(gaps, 0.5);
        }
        if (value < 0) {
            std::fprintf(stderr, "bootload_figures: %s: no exchange to measure\n",
                         qPrintable(path));
            return -1;
        }
        values.push_back(value);
    }
    return values.empty() ? -1 : Percentile(values, 0.5);
}

int Versus(const QStringList& Args) {
    const bool span = Args[0] == QLatin1String("span");
    QList<QStringList> groups{{}};
    for (const QString& arg : Args.mid(1)) {
        if (arg == QLatin1String("--")) {
            groups.append(QStringList());
        } else {
            groups.last().append(arg);
        }
    }
    if (groups.size() != 3) {
        std::fprintf(stderr, "bootload_figures: versus needs three groups of reports\n");
        return 2;
    }
    const double reference = MedianOfRuns(groups[0], span);
    const double window = MedianOfRuns(groups[1], span);
    const double cli = MedianOfRuns(groups[2], span);
    if (reference < 0 || window < 0 || cli < 0) {
        return 1;
    }
    const char* unit = span ? "ms" : "ms p50";
    const int digits = span ? 0 : 3;
    std::printf("window %.*f, bootload-cli %.*f, reference %.*f %s (window/reference %.3f; "
                "medians of %lld, %lld and %lld runs)\t%s\n",
                digits, window, digits, cli, digits, reference, unit, window / reference,
                static_cast<long long>(groups[1].size()), static_cast<long long>(groups[2].size()),
                static_cast<long long>(groups[0].size()),
                Verdict(window <= reference && cli <= reference));
    return 0;
}

int Exchange(const QStringList& Args) {
    QFile trace(Args[0]);
    const std::optional<QJsonObject> report = ReadJson(Args[1]);
    if (!trace.open(QIODevice::ReadOnly) || !report) {
        std::fprintf(stderr, "bootload_figures: cannot read %s\n", qPrintable(Args[0]));
        return 1;
    }
    const bool paced = Args.value(2) == QLatin1String("paced");
    const TExchangeSteps steps =
        ExchangeSteps(QString::fromLatin1(trace.readAll()), *report, paced);
    if (steps.TotalUs.empty()) {
        std::fprintf(stderr, "bootload_figures: no exchange traced\n");
        return 1;
    }
    QStringList parts;
    for (const TStepSpan& step : steps.Steps) {
        parts.append(QStringLiteral("%1 %2")
                         .arg(QLatin1String(step.Name))
                         .arg(Percentile(step.Us, 0.5), 0, 'f', 1));
    }
    std::printf("%s; total %.1f us (medians in us of %zu exchanges; %d replies read in "
                "pieces; %d with no wake-up mark before the dispatch, their wake-up counted "
                "in it)\ttraced\n",
                qPrintable(parts.join(QStringLiteral(", "))), Percentile(steps.TotalUs, 0.5),
                steps.TotalUs.size(), steps.SplitReplies, steps.AlreadyAwake);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i) {
        args.append(QString::fromLocal8Bit(argv[i]));
    }
    const QString command = args.value(0);
    const QStringList rest = args.mid(1);
    if (command == QLatin1String("wire") && rest.size() == 3) {
        return Wire(rest);
    }
    if (command == QLatin1String("turnaround") && rest.size() >= 3) {
        return Turnaround(rest);
    }
    if (command == QLatin1String("program") && rest.size() == 4) {
        return Program(rest);
    }
    if (command == QLatin1String("cpu") && rest.size() == 2) {
        return Cpu(rest);
    }
    if (command == QLatin1String("rss") && rest.size() == 2) {
        return Rss(rest);
    }
    if (command == QLatin1String("parallel") && rest.size() >= 3) {
        return Parallel(rest);
    }
    if (command == QLatin1String("units") && rest.size() == 5) {
        return Units(rest);
    }
    if (command == QLatin1String("lowlatency") && rest.size() == 1) {
        return LowLatency(rest);
    }
    if (command == QLatin1String("partial") && rest.size() == 3) {
        return Partial(rest);
    }
    if (command == QLatin1String("remote") && rest.size() >= 3 && rest.size() % 2 == 1) {
        return Remote(rest);
    }
    if (command == QLatin1String("versus") && rest.size() >= 5 &&
        (rest[0] == QLatin1String("turnaround") || rest[0] == QLatin1String("span"))) {
        return Versus(rest);
    }
    if (command == QLatin1String("exchange") && (rest.size() == 2 || rest.size() == 3)) {
        return Exchange(rest);
    }
    if (command == QLatin1String("gbench") && rest.size() == 1) {
        return GoogleBenchmark(rest);
    }
    std::fprintf(stderr,
                 "usage: bootload_figures "
                 "wire|turnaround|program|cpu|rss|parallel|units|lowlatency|partial|remote|versus|"
                 "exchange|"
                 "gbench "
                 "... "
                 "(see the head of bench/BenchFigures.cpp)\n");
    return 2;
}
