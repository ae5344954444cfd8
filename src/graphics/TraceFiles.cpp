#include "graphics/TraceFiles.h"

#include <QSaveFile>

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

QString writeWholeFile(const QString &path, const QByteArray &data)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (file.write(data) != data.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString();
    return {};
}

} // namespace kvx
