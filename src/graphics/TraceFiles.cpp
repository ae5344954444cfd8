#include "graphics/TraceFiles.h"

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

} // namespace kvx
