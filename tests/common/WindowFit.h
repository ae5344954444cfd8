#pragma once

// What a user finds of a window the program fits to the screen (ScreenFit's fixedClient and
// keepInsideScreen): the whole window on the screen, a size the user cannot change, the full
// layout without scroll bars where the screen holds it, and each of `controls` reachable by
// scrolling where it does not.

#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWidget>

inline void checkFitted(QWidget *window, QSize full, const QList<QWidget *> &controls)
{
    const QRect available = window->screen()->availableGeometry();
    QVERIFY2(available.contains(window->frameGeometry()),
             qPrintable(QStringLiteral("%1 x %2 on %3 x %4")
                            .arg(window->frameGeometry().width())
                            .arg(window->frameGeometry().height())
                            .arg(available.width())
                            .arg(available.height())));
    QCOMPARE(window->minimumSize(), window->maximumSize());
    const QSize size = window->size();
    window->resize(size - QSize(100, 100)); // as a user's drag would ask
    QCOMPARE(window->size(), size);
    auto *scroll = window->findChild<QScrollArea *>(QStringLiteral("ScrollBox"));
    QVERIFY(scroll);
    const bool holds = size == full;
    QCOMPARE(scroll->horizontalScrollBar()->isVisible(), size.width() < full.width());
    QVERIFY(holds || scroll->horizontalScrollBar()->isVisible() ||
            scroll->verticalScrollBar()->isVisible());
    for (QWidget *control : controls) {
        scroll->ensureWidgetVisible(control);
        const QRect shown(control->mapTo(window, QPoint(0, 0)), control->size());
        QVERIFY2(window->rect().contains(shown), qPrintable(control->objectName()));
    }
}
