#include "editor/Ev310Registers.h"

#include <QCloseEvent>
#include <QTabWidget>

namespace kvx {

namespace {
constexpr int kClientWidth = 863;
constexpr int kClientHeight = 490;
constexpr const char *kPageNames[TFormAdvanced::kPageCount] = {"Motor 1", "Motor 2", "Motor 3",
                                                               "Global Parameters", "RAM Table"};
constexpr const char *kPageCaptions[TFormAdvanced::kPageCount] = {
    "KVX310 Register Set (Motor 1)", "KVX310 Register Set (Motor 2)",
    "KVX310 Register Set (Motor 3)", "KVX310 Register Set (Global Parameters)",
    "KVX310 Register Set (Configuration & Microstep RAM)"};
} // namespace

TFormAdvanced::TFormAdvanced(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("FormAdvanced"));
    setWindowTitle(tr("KVX310 Register Set"));
    setFixedSize(kClientWidth, kClientHeight);
    move(192, 107);

    PageControl = new QTabWidget(this);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    PageControl->setGeometry(0, 0, kClientWidth, kClientHeight);
    for (int i = 0; i < kPageCount; ++i) {
        Pages[i] = new QWidget;
        PageControl->addTab(Pages[i], tr(kPageNames[i]));
    }
    PageControl->setCurrentIndex(0);
    connect(PageControl, &QTabWidget::currentChanged, this, [this] { PageControlChange(); });
    PageControlChange();
}

int TFormAdvanced::activePage() const
{
    return PageControl->currentIndex();
}

void TFormAdvanced::setActivePage(int page)
{
    PageControl->setCurrentIndex(page);
}

void TFormAdvanced::PageControlChange()
{
    const int page = activePage();
    if (page >= 0 && page < kPageCount)
        setWindowTitle(tr(kPageCaptions[page]));
}

void TFormAdvanced::showEvent(QShowEvent *event)
{
    m_editorShown = true;
    QWidget::showEvent(event);
}

void TFormAdvanced::closeEvent(QCloseEvent *event)
{
    // The window lives until the program ends; closing hides it.
    m_editorShown = false;
    QWidget::closeEvent(event);
}

} // namespace kvx
