#pragma once

// The link's waits, the one place that waits by processing events: a command's requests, a
// pause of polling. Each ends once its condition holds or the port closes; waits run inside
// one another when a command runs within another's wait. User-interface thread.

#include <QObject>

#include <functional>

class QTimer;

namespace kvx {

class LinkWaits : public QObject
{
    Q_OBJECT

public:
    explicit LinkWaits(QObject *parent = nullptr);

    // True when `done` became true, false when the port closed first.
    bool waitFor(const std::function<bool()> &done);
    // The port has closed or is lost: every wait under way ends at once.
    void endAll() { ++m_closeCount; }

signals:
    // Now and then while a wait runs, so that a watchdog that is due is noticed even when the
    // poll timer (which normally runs the watchdog) does not tick.
    void guard();

private:
    quint64 m_closeCount = 0; // waits started before it changed end
    int m_depth = 0;
    QTimer *m_guard;
};

} // namespace kvx
