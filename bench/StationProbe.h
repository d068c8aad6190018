// What a benchmark station watches while the real window works: every change of the log
// list with the moment it happened, the serial component's low-latency verdicts, and the
// process's own CPU time and peak resident size.
#pragma once

#include <QElapsedTimer>
#include <QJsonArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// One stage of a run: from the moment its line was appended to the moment the next
// stage's line was (or the run ended).
struct TStageTime {
    QString Name; // the line as appended, without its trailing dots
    double StartMs = 0;
    double EndMs = 0;
};

// CPU time of this process (every thread) and its peak resident size so far.
struct TProcessUsage {
    double CpuMs = 0;
    int64_t MaxRssKiB = 0;
    static TProcessUsage Now();
};

// Installs a message handler for its lifetime; one probe at a time.
class TStationProbe {
public:
    TStationProbe();
    ~TStationProbe();
    TStationProbe(const TStationProbe&) = delete;
    TStationProbe& operator=(const TStationProbe&) = delete;

    // Milliseconds since the probe was made.
    double ElapsedMs() const;
    // The serial component's traces are only wanted while the port is first opened:
    // traced frames would cost time inside the measured run.
    void TraceSerial(bool On);
    // Marks every chunk the receive thread reads and every request written (the serial
    // traces stay on meanwhile: a little time per frame).
    void MarkSerialTraffic(bool On);
    // Between FromMs and EndMs: from the receive thread's read of the last chunk of each
    // reply to the write of the next request, that is the program's own turnaround.
    std::vector<double> ProgramTurnarounds(double FromMs, double EndMs) const;
    // The low-latency lines the serial component logged.
    QStringList LowLatencyLines() const;
    // The stages seen between FromMs and EndMs.
    QList<TStageTime> Stages(double FromMs, double EndMs) const;
    QJsonArray StagesJson(double FromMs, double EndMs) const;
};
