#pragma once

// The tool's own port: a board session of its own, named as the windows name it, with a
// detection that ends as soon as a plain board has answered. User-interface thread.

#include "attach/BoardFacts.h"
#include "cli/BoardClient.h"

namespace kvx::cli {

class LocalBoard : public BoardClient
{
    Q_OBJECT

public:
    // `polling`: the poll cycle runs after the detection (BoardClient::Options).
    LocalBoard(bool polling, SimulatedPortProvider simulated, QObject *parent = nullptr);

    // False with `error` set when the port could not be opened.
    bool open(const QString &port, const QMap<QString, QString> &ports, QString *error);

    bool waitForBoard(QString *error) override;
    [[nodiscard]] QString device() const override { return m_session.lastOpen().device; }
    [[nodiscard]] bool lost() const override { return m_lost; }
    [[nodiscard]] QString lostReason() const override { return m_lostReason; }
    [[nodiscard]] RequestChannel &requests() override { return m_session.link(); }
    [[nodiscard]] std::unique_ptr<PollPause> pausePolling() override;
    std::optional<QJsonObject> facts() override;
    [[nodiscard]] quint64 unansweredPolls() override;
    std::unique_ptr<CsvOutput> record(QIODevice &out,
                                      const std::vector<CsvRecorder::Column> &columns) override;

private:
    BoardSession m_session;
    BoardFacts m_facts;
    bool m_lost = false;
    QString m_lostReason;
};

} // namespace kvx::cli
