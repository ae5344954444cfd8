#pragma once

// The "Traffic" window: every event on the link, decoded in the chip's terms, the newest at
// the bottom. It follows the newest unless the user has scrolled up; Pause stops the view
// while the session goes on recording. Polls can be hidden with one click and the view kept
// to one motor; "Save..." writes what the view lists to a text or CSV file without holding
// up the poll cycle. User-interface thread only.

#include <QPointer>
#include <QThread>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QPushButton;
class QTableView;
class QTimer;

namespace kvx {

class BoardSession;
class TrafficModel;

class TFormTraffic : public QWidget
{
    Q_OBJECT

public:
    // How often a shown view takes what was logged meanwhile.
    static constexpr int kRefreshMs = 500;

    explicit TFormTraffic(BoardSession &session, QWidget *parent = nullptr);
    ~TFormTraffic() override;

    QCheckBox *CheckPause = nullptr;
    QPushButton *BtnClear = nullptr;
    QCheckBox *CheckHidePolls = nullptr;
    QComboBox *CbMotor = nullptr;
    QPushButton *BtnSave = nullptr;
    QPushButton *BtnClose = nullptr;
    QTableView *GridTraffic = nullptr;

    [[nodiscard]] TrafficModel &model() { return *m_model; }

    // Handlers.
    void TimerRefresh();
    void FilterChange();
    void BtnClearClick();
    void BtnSaveClick();
    // True while a save is being written.
    [[nodiscard]] bool saving() const { return m_saver != nullptr; }

signals:
    // A save has been written (ok) or has failed; the message has been shown.
    void saved(bool ok);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void updateTimer();
    void refreshNow();

    TrafficModel *m_model = nullptr;
    BoardSession &m_session;
    QTimer *m_timer = nullptr;
    bool m_refreshDue = false;
    QPointer<QThread> m_saver;
};

} // namespace kvx
