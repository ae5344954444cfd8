#include "app/Version.h"

namespace kvx {

QString ReadFileVersion()
{
#ifdef KVX_FILE_VERSION
    return QStringLiteral(KVX_FILE_VERSION);
#else
    return {};
#endif
}

QString FormatVersion(const QString &s)
{
    // Positions count from 1, as the title has always been formed.
    const qsizetype n = s.size();
    auto at = [&s](qsizetype pos) { return s.at(pos - 1); };
    qsizetype p = n;
    for (qsizetype i = 1; i <= n - 1; ++i) {
        if (at(i) == QLatin1Char('.')) {
            p = i;
            break;
        }
    }
    QString result = s.left(p + 1);
    for (qsizetype pos = p + 3; pos < n && at(pos) != QLatin1Char('.'); ++pos)
        result.append(at(pos));
    if (result.size() == 3)
        result.append(QLatin1Char('0'));
    return result;
}

} // namespace kvx
