#include "records/CsvRecorder.h"

#include "chip/RegisterMap.h"

#include <QCoreApplication>
#include <QFileDevice>

#include <algorithm>

namespace kvx {

namespace {

// The registers every poll cycle reads, in the order of their columns.
constexpr int kLiveRegisters[] = {motor::XActual, motor::VTarget, motor::VActual, motor::AActual};

} // namespace

std::optional<std::vector<CsvRecorder::Column>> CsvRecorder::columns(const QStringList &names,
                                                                     int motor, QString *error)
{
    std::vector<int> regs;
    for (const QString &name : names) {
        const auto it =
            std::find_if(std::begin(kLiveRegisters), std::end(kLiveRegisters), [&](int r) {
                const std::string_view n = motorRegister(r).name;
                return name.trimmed().compare(QLatin1String(n.data(), qsizetype(n.size())),
                                              Qt::CaseInsensitive) == 0;
            });
        if (it == std::end(kLiveRegisters)) {
            *error = tr("\"%1\" is not polled in every cycle; record takes X_ACTUAL, V_TARGET, "
                        "V_ACTUAL and A_ACTUAL")
                         .arg(name.trimmed());
            return std::nullopt;
        }
        if (std::find(regs.begin(), regs.end(), *it) == regs.end())
            regs.push_back(*it);
    }
    if (regs.empty())
        regs.assign(std::begin(kLiveRegisters), std::end(kLiveRegisters));
    std::vector<Column> out;
    for (int m = 0; m < kMotorCount; ++m) {
        if (motor >= 0 && m != motor)
            continue;
        for (int r : regs) {
            const std::string_view n = motorRegister(r).name;
            out.push_back(
                {PollTable::motorRow(m, r), QStringLiteral("%1_%2")
                                                .arg(QLatin1String(n.data(), qsizetype(n.size())))
                                                .arg(m + 1)});
        }
    }
    return out;
}

CsvOutput::CsvOutput(QIODevice &out, QObject *parent)
    : QObject(parent)
    , m_out(out)
{}

void CsvOutput::add(const QByteArray &text)
{
    m_pending += text;
}

bool CsvOutput::flush()
{
    if (m_pending.isEmpty())
        return true;
    const qint64 n = m_out.write(m_pending);
    qsizetype kept = n > 0 ? qsizetype(n) : 0;
    // A line cut inside a number would read as a wrong value: the part of a line the file took
    // is cut off again where it can be (a pipe cannot take it back), and written whole later.
    const qsizetype whole = kept > 0 ? m_pending.lastIndexOf('\n', kept - 1) + 1 : 0;
    auto *file = qobject_cast<QFileDevice *>(&m_out);
    if (kept < m_pending.size() && kept > whole && file && !file->isSequential()) {
        const qint64 end = file->size() - (kept - whole);
        if (file->resize(end) && file->seek(end))
            kept = whole;
    }
    // Lines are counted once they are in the file.
    m_newlines += quint64(m_pending.left(kept).count('\n'));
    m_written += kept;
    m_pending.remove(0, kept);
    if (m_pending.isEmpty())
        return true;
    // A device that takes part of the lines says no error of its own.
    if (n >= 0 && m_error.isEmpty())
        m_error = tr("the disk took only part of the lines");
    return false;
}

QString CsvOutput::errorString() const
{
    return m_error.isEmpty() ? m_out.errorString() : m_error;
}

CsvRecorder::CsvRecorder(BoardSession &session, QIODevice &out, std::vector<Column> columns,
                         QObject *parent)
    : CsvOutput(out, parent)
    , m_session(session)
    , m_columns(std::move(columns))
    , m_columnOfRow(PollTable::kRowCount, -1)
    , m_values(m_columns.size())
{
    for (std::size_t c = 0; c < m_columns.size(); ++c)
        m_columnOfRow[std::size_t(m_columns[c].row)] = int(c);
    connect(&session.scheduler(), &PollScheduler::pollReplyShown, this, &CsvRecorder::take);
    connect(&session.link(), &BoardLink::pollCycleStart, this, &CsvRecorder::endCycle);
}

bool CsvRecorder::start()
{
    m_origin = m_session.link().fineNow();
    QByteArray header = "time_s,status";
    for (const Column &c : m_columns)
        header += ',' + c.name.toLatin1();
    add(header + '\n');
    return flush();
}

void CsvRecorder::take(int row, const Reply &reply)
{
    // Lines start with a whole cycle.
    if (!m_inStep)
        return;
    if (!m_cycleAt) {
        // When its request went out: replies handled late come in a bunch, requests do not.
        // A cycle asked for before the recording began is not one of its own.
        const std::int64_t at = m_session.link().replySentAt();
        if (at < m_origin) {
            m_inStep = false;
            return;
        }
        m_cycleAt = at;
        m_status = reply.status;
    }
    const int c = m_columnOfRow[std::size_t(row)];
    if (c >= 0)
        m_values[std::size_t(c)] = m_session.table().value(row, reply.data);
}

void CsvRecorder::endCycle()
{
    m_inStep = true;
    if (!m_cycleAt)
        return;
    const double t = double(*m_cycleAt - m_origin) / 1e6;
    m_cycleAt.reset();
    QByteArray line = QByteArray::number(t, 'f', 4);
    line += ',';
    line += QByteArray::number(m_status);
    for (const std::optional<qint64> &v : m_values) {
        line += ',';
        if (v)
            line += QByteArray::number(*v);
    }
    line += '\n';
    add(line);
}

double CsvRecorder::seconds() const
{
    return double(m_session.link().fineNow() - m_origin) / 1e6;
}

} // namespace kvx
