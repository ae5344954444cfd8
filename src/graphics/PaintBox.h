#pragma once

// A black paint surface that hands its painting to a handler, tagged with the motor it shows,
// so that one handler serves the like areas of all three pages. Owns nothing beyond itself;
// user-interface thread only.

#include <QWidget>

#include <functional>

class QPainter;

namespace kvx {

class TPaintBox : public QWidget
{
    Q_OBJECT

public:
    using PaintHandler = std::function<void(TPaintBox &sender, QPainter &painter)>;

    TPaintBox(int tag, QWidget *parent = nullptr);

    [[nodiscard]] int Tag() const { return m_tag; }
    // While the handler runs: what the paint event asks for (the handler may paint no more).
    [[nodiscard]] QRect paintArea() const { return m_paintArea; }
    void setOnPaint(PaintHandler handler) { m_onPaint = std::move(handler); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_tag;
    PaintHandler m_onPaint;
    QRect m_paintArea;
};

} // namespace kvx
