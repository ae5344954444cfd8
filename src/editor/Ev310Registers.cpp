#include "editor/Ev310Registers.h"

#include "controls/ScreenFit.h"
#include "controls/SpinEdit.h"
#include "controls/Widgets.h"
#include "editor/BoardSnapshot.h"
#include "editor/GlobalPage.h"
#include "editor/HexKeyFilter.h"
#include "editor/MotorPage.h"
#include "editor/RamPage.h"
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
    , m_hexKeys(new HexKeyFilter(this))
{
    setObjectName(QStringLiteral("FormAdvanced"));
    setWindowTitle(tr("KVX310 Register Set"));
    // Fixed, not resizable; only a screen that cannot hold it at a high scale makes it
    // smaller, and then it scrolls, so that every field stays reachable.
    QWidget *client =
        fixedClient(this, QStringLiteral("Client"), QSize(kClientWidth, kClientHeight));
    move(192, 107);

    PageControl = new QTabWidget(client);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    PageControl->setGeometry(0, 0, kClientWidth, kClientHeight);
    for (int i = 0; i < kPageCount; ++i) {
        if (i < int(MotorPages.size())) {
            auto *page = new TMotorPage(i, ComposedTelegram);
            connect(page, &TMotorPage::sendClicked, this, [this] { BtnSendMot1Click(); });
            MotorPages[std::size_t(i)] = page;
            Pages[i] = page;
        } else if (i == int(EditorPage::Global)) {
            GlobalPage = new TGlobalPage(ComposedTelegram, *m_hexKeys);
            connect(GlobalPage, &TGlobalPage::sendClicked, this, [this] { BtnSendMot1Click(); });
            Pages[i] = GlobalPage;
        } else {
            RamPage = new TRamPage(session, *m_hexKeys);
            Pages[i] = RamPage;
        }
        PageControl->addTab(Pages[i], tr(kPageNames[i]));
    }
    // The tabs leave the rest of their row free.
    BoardSnapshot = new TBoardSnapshot(session, PageControl);
    PageControl->setCornerWidget(BoardSnapshot, Qt::TopRightCorner);
    PageControl->setCurrentIndex(0);
    connect(PageControl, &QTabWidget::currentChanged, this, [this] { PageControlChange(); });
    movePagesByKeys(PageControl);
    nameFieldsByTheirCaptions(this);
    FormCreate();
}

TFormAdvanced::~TFormAdvanced() = default;

void TFormAdvanced::FormCreate()
{
    m_editorShown = false;
    // The register pages' fields and decoders follow the poll cycle; the connection goes with
    // this window.
    connect(&m_session.scheduler(), &PollScheduler::pollReplyShown, this,
            [this](int row, const Reply &reply) {
                const PollTable &table = m_session.table();
                for (TMotorPage *page : MotorPages)
                    page->showPollReply(table, row, reply.data, m_editorShown);
                GlobalPage->showPollReply(table, row, reply.data, m_editorShown);
            });
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
    // The telegram always belongs to the active register page.
    if (page >= 0 && page < int(MotorPages.size()))
        MotorPages[std::size_t(page)]->RGMotClick();
    else if (page == int(EditorPage::Global))
        GlobalPage->RGGlobalRegsClick();
    reportView();
}

void TFormAdvanced::BtnSendMot1Click()
{
    // During a RAM transfer the send goes out between two of its words.
    // The page and its telegram as clicked: the wait lets the user switch pages or edit. A
    // value still being typed (the access key leaves the focus in its field) counts as the
    // field will hold it.
    QWidget *const sender = PageControl->currentWidget();
    TSpinEdit::commitAll(sender);
    const Datagram telegram = ComposedTelegram;
    const PollPause pause = m_session.link().PausePolling();
    const bool answered = m_session.link().DirectRequest(telegram).has_value();
    // Only the page that sent says whether it got an answer.
    for (TMotorPage *page : MotorPages)
        page->showSendAnswered(page != sender || answered);
    GlobalPage->showSendAnswered(GlobalPage != sender || answered);
}

void TFormAdvanced::reportView()
{
    // The scheduler polls the registers of the bank the page shows: a motor's, or the common
    // ones of the global page.
    const EditorPage page = activePage();
    std::optional<int> bank;
    if (page == EditorPage::Global)
        bank = kCommonBank;
    else if (page >= EditorPage::Motor1 && page <= EditorPage::Motor3)
        bank = int(page) - int(EditorPage::Motor1);
    m_session.scheduler().setEditorView(m_editorShown, bank);
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
