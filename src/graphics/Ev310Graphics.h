#pragma once

// The graphic display window "Graphic Display": curves of position, velocity, target velocity
// and acceleration of each motor over the last 480 poll cycles, auto-scaled, with the measured
// cycle time. Owns the trace recorder and its controls; created hidden at program start and
// kept until the end. The board session's poll cycle feeds it whether or not it is shown; only
// repaints wait for it to be visible. User-interface thread only.

#include "graphics/TracePicture.h"
#include "records/TraceRecorder.h"

#include <QWidget>

#include <array>
#include <cstdint>

class QCheckBox;
class QFrame;
class QImage;
class QLabel;
class QMenu;
class QPainter;
class QPushButton;
class QTabWidget;

namespace kvx {

class BoardSession;
class TPaintBox;

class TFormGraphics : public QWidget
{
    Q_OBJECT

public:
    // Records what the session's poll cycle reads.
    explicit TFormGraphics(BoardSession &session, QWidget *parent = nullptr);
    ~TFormGraphics() override;

    [[nodiscard]] bool Shown() const { return m_shown; }

    // Entry points of the trace recorder, called once per polled value and once per cycle.
    void AddPosition(std::int32_t value, int motor);
    void AddVelocity(std::int32_t value, int motor);
    void AddTargetVelocity(std::int32_t value, int motor);
    void AddAcceleration(std::int32_t value, int motor);
    void NextSample();
    // When a request of the cycle in progress went out (the link's fine clock, microseconds).
    void noteCycleStart(std::int64_t micros) { m_recorder.noteCycleStart(micros); }

    [[nodiscard]] const TraceRecorder &Recorder() const { return m_recorder; }
    // For tests: the recorder's millisecond clock.
    void setClock(TraceRecorder::Clock clock) { m_recorder.setClock(std::move(clock)); }

    // Controls; index = motor.
    QWidget *Client = nullptr; // everything, in a scroll area (ScreenFit's fixedClient)
    QTabWidget *PageControl = nullptr;
    std::array<QWidget *, 3> TabMotor{};
    std::array<TPaintBox *, 3> PaintBoxLeft{};
    std::array<QFrame *, 3> PnlPlot{}; // the bordered panel around each plot area
    std::array<TPaintBox *, 3> PaintBox{};
    std::array<TPaintBox *, 3> PaintBoxRight{};
    QFrame *PnlLegend = nullptr;
    std::array<QLabel *, 4> LblLegend{};
    QFrame *PnlXAxis = nullptr;
    QLabel *LblXAxis = nullptr;
    QLabel *LblXTiming = nullptr;
    QFrame *PnlControl = nullptr;
    QCheckBox *CheckStop = nullptr;
    QPushButton *BtnClear = nullptr;
    QPushButton *BtnExport = nullptr; // opens the export menu

    // Handlers.
    void BtnClearClick();
    void PaintBox1Paint(TPaintBox &sender, QPainter &painter);
    void PaintBoxLeft1Paint(TPaintBox &sender, QPainter &painter);
    void PaintBoxRight1Paint(TPaintBox &sender, QPainter &painter);

    // The context menu of a plot area: the page's picture, the whole data and the one motor's
    // older file.
    [[nodiscard]] QMenu *createPlotMenu(int motor, QWidget *parent);
    // The menu of "&Export...": the whole data, and the picture of all motors as PNG or SVG.
    [[nodiscard]] QMenu *createExportMenu(QWidget *parent);
    // The page's scale strips and plot area side by side, full height.
    [[nodiscard]] QImage pagePicture(int motor) const;
    void savePicture(int motor);
    // One motor's cycles in the file format from before the whole export.
    void exportData(int motor);
    // Every cycle of all motors, signed, with its time.
    void exportAllData();
    void exportPicture(PictureFormat format);

protected:
    void showEvent(QShowEvent *event) override;
    // Restored from a minimised state: the ticks meanwhile painted nothing.
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void FormCreate();
    void FormShow();
    void FormClose();
    void buildInterface();
    void buildPage(int motor);
    void buildPanels();
    void showInterval();
    // Every paint area of the three pages.
    void repaintAll();
    [[nodiscard]] static bool validMotor(int motor) { return motor >= 0 && motor < 3; }
    // Writes the file the user names; cancel writes nothing, a failure is reported.
    void saveToChosenFile(const QString &caption, const QString &proposedName,
                          const QString &filter, const QByteArray &content);

    TraceRecorder m_recorder;
    bool m_shown = false;
};

} // namespace kvx
