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

double traceSeconds(const TraceRecorder &recorder, int slot)
{
    // The tick counter wraps; the difference modulo 2^32 stays right across the wrap.
    return double(recorder.cycleEnd(slot) - recorder.cycleEnd(0)) / 1000.0;
}

QByteArray traceCsvAll(const TraceRecorder &recorder)
{
    QByteArray out = traceCsvAllHeader() + '\n';
    for (int i = 0; i < recorder.fill(); ++i) {
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
