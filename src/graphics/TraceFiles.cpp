#include "graphics/TraceFiles.h"

namespace kvx {

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

} // namespace kvx
