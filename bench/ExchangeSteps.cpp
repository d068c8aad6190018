#include "bench/ExchangeSteps.h"

#include "bench/BenchMath.h"
#include "serial/ExchangeTrace.h"

#include <QStringList>

#include <algorithm>

namespace {

using TStep = TExchangeStep;

struct TMark {
    TStep Step;
    double Us; // on the monotonic clock
};

std::vector<TMark> ParseTrace(const QString& Text) {
    std::vector<TMark> marks;
    for (const QString& line : Text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        bool stepOk = false;
        bool nsOk = false;
        const int step = fields.value(0).toInt(&stepOk);
        const qint64 ns = fields.value(1).toLongLong(&nsOk);
        if (stepOk && nsOk && step >= 0 && step <= static_cast<int>(TStep::DispatcherAsleep)) {
            marks.push_back({static_cast<TStep>(step), static_cast<double>(ns) / 1000.0});
        }
    }
    std::stable_sort(marks.begin(), marks.end(),
                     [](const TMark& A, const TMark& B) { return A.Us < B.Us; });
    return marks;
}

// Marks are at positive times; None stands for a step not found.
constexpr double None = -1;

// The first mark of Step in [From, To), or None.
double First(const std::vector<TMark>& Marks, TStep Step, double From, double To) {
    if (From == None) {
        return None;
    }
    auto it = std::lower_bound(Marks.begin(), Marks.end(), From,
                               [](const TMark& M, double T) { return M.Us < T; });
    for (; it != Marks.end() && it->Us < To; ++it) {
        if (it->Step == Step) {
            return it->Us;
        }
    }
    return None;
}

// The last mark of Step in [From, To), or None.
double Last(const std::vector<TMark>& Marks, TStep Step, double From, double To) {
    double found = None;
    if (From == None || To == None) {
        return None;
    }
    auto it = std::lower_bound(Marks.begin(), Marks.end(), From,
                               [](const TMark& M, double T) { return M.Us < T; });
    for (; it != Marks.end() && it->Us < To; ++it) {
        if (it->Step == Step) {
            found = it->Us;
        }
    }
    return found;
}

int Count(const std::vector<TMark>& Marks, TStep Step, double From, double To) {
    return static_cast<int>(std::count_if(Marks.begin(), Marks.end(), [&](const TMark& M) {
        return M.Step == Step && M.Us >= From && M.Us < To;
    }));
}

} // namespace

TExchangeSteps ExchangeSteps(const QString& TraceText, const QJsonObject& Report, bool Paced) {
    static const char* const names[] = {"reply written -> port woke",
                                        "read",
                                        "chunk message made",
                                        "post",
                                        "GUI wake-up",
                                        "event dispatch",
                                        "condition matching",
                                        "wait returns",
                                        "reply decoded",
                                        "progress, next request",
                                        "frame building",
                                        "write",
                                        "GUI thread back asleep",
                                        "request to the unit"};
    TExchangeSteps result;
    for (const char* name : names) {
        result.Steps.push_back({name, {}});
    }
    const std::vector<TMark> marks = ParseTrace(TraceText);
    const double startUs =
        static_cast<double>(Report.value(QStringLiteral("ClockStartNs")).toInteger()) / 1000.0;
    const std::vector<TReportFrame> frames = ReportFrames(Report);
    for (size_t i = 0; i + 1 < frames.size(); ++i) {
        const TReportFrame& reply = frames[i];
        const TReportFrame& request = frames[i + 1];
        if (reply.In || !reply.Ok || !request.In || !request.Ok || request.Command < 0) {
            continue;
        }
        const double replyUs = startUs + (reply.TimeMs + (Paced ? FrameWireMs(reply) : 0)) * 1000.0;
        // A paced request is recorded once it has crossed the line: it arrived before that.
        const double requestUs =
            startUs + (request.TimeMs - (Paced ? FrameWireMs(request) : 0)) * 1000.0;
        // The chunk that completed the reply: the last read before the match.
        const double matched = First(marks, TStep::ReplyMatched, replyUs, requestUs);
        const double read = Last(marks, TStep::ChunkRead, replyUs, matched);
        const double woke = Last(marks, TStep::PortWoke, replyUs, read);
        const double made = First(marks, TStep::ChunkMade, read, matched);
        const double posted = First(marks, TStep::ChunkPosted, made, requestUs);
        const double delivered = Last(marks, TStep::ChunkDelivered, made, matched + 0.001);
        const double returned = First(marks, TStep::WaitReturned, matched, requestUs);
        const double decoded = First(marks, TStep::ReplyDecoded, returned, requestUs);
        const double next = First(marks, TStep::NextRequest, decoded, requestUs);
        const double sent = First(marks, TStep::FrameSent, next, requestUs);
        const double written = First(marks, TStep::WriteReturned, sent, requestUs);
        if (woke == None || posted == None || delivered == None || written == None) {
            continue;
        }
        // Back asleep before the request reached the unit, or still awake when it did.
        double asleep = First(marks, TStep::DispatcherAsleep, written, requestUs);
        if (asleep == None) {
            asleep = requestUs;
        }
        // The GUI thread's wake-up: the first after the chunk was made, unless the chunk
        // was delivered without one (the thread was busy and took it next).
        double awake = First(marks, TStep::DispatcherAwake, made, delivered);
        if (awake == None) {
            awake = posted;
            ++result.AlreadyAwake;
        }
        if (Count(marks, TStep::ChunkRead, replyUs, matched) > 1) {
            ++result.SplitReplies;
        }
        const double points[] = {replyUs,  woke,    read, made, posted,  awake,  delivered, matched,
                                 returned, decoded, next, sent, written, asleep, requestUs};
        for (size_t s = 0; s + 1 < std::size(points); ++s) {
            result.Steps[s].Us.push_back(std::max(0.0, points[s + 1] - points[s]));
        }
        result.TotalUs.push_back(requestUs - replyUs);
    }
    return result;
}
