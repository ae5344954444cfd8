#include "records/TraceFiles.h"

#include "chip/RegisterMap.h"

namespace kvx {

namespace {

struct Column
{
    int reg;
    TraceCurve curve;
};

// The order of kvx310 record, so that files from the tool and the window read alike.
constexpr Column kColumns[] = {
    {motor::XActual, TraceCurve::Position},
    {motor::VTarget, TraceCurve::TargetVelocity},
    {motor::VActual, TraceCurve::Velocity},
    {motor::AActual, TraceCurve::Acceleration},
};

} // namespace

QByteArray traceCsv(const TraceRecorder &recorder, int motor)
{
    QByteArray out(kTraceCsvHeader);
    out += '\n';
    for (int i = 0; i < recorder.fill(); ++i) {
        out += QByteArray::number(i);
        for (TraceCurve c : {TraceCurve::Position, TraceCurve::Velocity, TraceCurve::TargetVelocity,
                             TraceCurve::Acceleration}) {
            out += ',';
            out += QByteArray::number(recorder.sample(c, i, motor).value);
        }
        out += '\n';
    }
    return out;
}

QByteArray traceCsvAllHeader()
{
    QByteArray out("time_s");
    for (int m = 0; m < TraceRecorder::kMotorCount; ++m) {
        for (const Column &c : kColumns) {
            const std::string_view name = motorRegister(c.reg).name;
            out += ',' + QByteArray(name.data(), qsizetype(name.size())) + '_' +
                   QByteArray::number(m + 1);
        }
    }
    return out;
}

std::optional<int> firstTimedSlot(const TraceRecorder &recorder)
{
    for (int i = 0; i < recorder.fill(); ++i) {
        if (recorder.cycleStart(i))
            return i;
    }
    return std::nullopt;
}

double traceSeconds(const TraceRecorder &recorder, int slot)
{
    const std::optional<int> first = firstTimedSlot(recorder);
    const std::optional<std::int64_t> start = recorder.cycleStart(slot);
    if (!first || !start)
        return 0.0;
    return double(*start - *recorder.cycleStart(*first)) / 1e6;
}

QByteArray traceCsvAll(const TraceRecorder &recorder)
{
    QByteArray out = traceCsvAllHeader() + '\n';
    for (int i = 0; i < recorder.fill(); ++i) {
        // A cycle under way when recording began or the display was cleared holds zeros in
        // place of the rows polled before: only whole cycles are written.
        if (!recorder.cycleStart(i))
            continue;
        out += QByteArray::number(traceSeconds(recorder, i), 'f', 3);
        for (int m = 0; m < TraceRecorder::kMotorCount; ++m) {
            for (const Column &c : kColumns) {
                out += ',';
                out += QByteArray::number(recorder.sample(c.curve, i, m).reading);
            }
        }
        out += '\n';
    }
    return out;
}

std::vector<TraceTimeTick> traceTimeTicks(const TraceRecorder &recorder, int most)
{
    std::vector<TraceTimeTick> ticks;
    const std::optional<int> first = firstTimedSlot(recorder);
    const int last = recorder.fill() - 1;
    if (!first || last <= *first || most < 1)
        return ticks;
    const double span = traceSeconds(recorder, last);
    constexpr double kSteps[] = {0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 1800, 3600};
    double step = kSteps[std::size(kSteps) - 1];
    for (const double s : kSteps) {
        if (span / s < most) {
            step = s;
            break;
        }
    }
    // Between the timed cycles around each mark, in proportion to their times.
    int slot = *first;
    for (int k = 0; k * step <= span + 1e-9; ++k) {
        const double t = k * step;
        while (slot < last && traceSeconds(recorder, slot + 1) < t)
            ++slot;
        const double from = traceSeconds(recorder, slot);
        const double to = slot < last ? traceSeconds(recorder, slot + 1) : from;
        const double x = to > from ? slot + (t - from) / (to - from) : slot;
        ticks.push_back({std::min(x, double(last)), t});
    }
    return ticks;
}

} // namespace kvx
