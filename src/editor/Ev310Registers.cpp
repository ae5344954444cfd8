#include "editor/Ev310Registers.h"

#include "session/BoardSession.h"

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

TFormAdvanced::TFormAdvanced(BoardSession &session, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , m_session(session)
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

EditorPage TFormAdvanced::activePage() const
{
    return static_cast<EditorPage>(PageControl->currentIndex());
}

void TFormAdvanced::setActivePage(EditorPage page)
{
    PageControl->setCurrentIndex(int(page));
}

void TFormAdvanced::PageControlChange()
{
    const int page = PageControl->currentIndex();
    if (page >= 0 && page < kPageCount)
        setWindowTitle(tr(kPageCaptions[page]));
    reportView();
}

void TFormAdvanced::reportView()
{
    m_session.setEditorView(m_editorShown, activePage());
}

void TFormAdvanced::showEvent(QShowEvent *event)
{
    m_editorShown = true;
    reportView();
    QWidget::showEvent(event);
}

void TFormAdvanced::closeEvent(QCloseEvent *event)
{
    // The window lives until the program ends; closing hides it.
    m_editorShown = false;
    reportView();
    QWidget::closeEvent(event);
}

} // namespace kvx
