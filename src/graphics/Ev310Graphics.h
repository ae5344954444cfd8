#pragma once

// The graphic display window "Graphic Display": curves of position, velocity, target velocity
// and acceleration of each motor over the last poll cycles. Created hidden at program start and
// kept until the end; the poll scheduler feeds it whether or not it is shown. User-interface
// thread only.

#include <QWidget>

#include <cstdint>

namespace kvx {

class TFormGraphics : public QWidget
{
    Q_OBJECT

public:
    explicit TFormGraphics(QWidget *parent = nullptr);

    [[nodiscard]] bool Shown() const { return m_shown; }

    // Entry points of the trace recorder, called once per polled value and once per cycle.
    void AddPosition(std::int32_t value, int motor);
    void AddVelocity(std::int32_t value, int motor);
    void AddTargetVelocity(std::int32_t value, int motor);
    void AddAcceleration(std::int32_t value, int motor);
    void NextSample();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    bool m_shown = false;
};

} // namespace kvx
