#include "cli/ToolSession.h"

#include "cli/Output.h"
#include "settings/ProgramSettings.h"
#include "settings/SettingsLocation.h"

#include <QEventLoop>

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace kvx::cli {

namespace {

// The write end of a pipe that SIGINT and SIGTERM write to, so that the event loop hears of
// them.
int g_signalPipe[2] = {-1, -1};

extern "C" void onSignal(int)
{
    const int saved = errno;
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &c, 1);
    errno = saved;
}

} // namespace

ToolSession::ToolSession(const ToolOptions &options, SimulatedPortProvider simulated, bool script)
    : m_options(options)
    , m_simulated(std::move(simulated))
    , m_script(script)
{}

ToolSession::~ToolSession()
{
    // Once the recordings have ended, the signals act as ever.
    if (m_signals) {
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGTERM, SIG_DFL);
    }
}

int ToolSession::connect(bool polling)
{
    if (m_client)
        return kDone;
    const ProgramSettings settings(defaultSettingsPath());
    const QString port = m_options.port.isEmpty()
                             ? QStringLiteral("COM%1").arg(settings.portIndex() + 1)
                             : m_options.port;
    QString why;
    m_client = BoardClient::open(port, settings.ports(),
                                 {m_options.attach, polling || m_script, m_simulated}, &why);
    if (!m_client)
        return error(kPortFailed, why);
    if (!m_client->waitForBoard(&why))
        return error(kBoardSaidNo, why);
    return kDone;
}

void ToolSession::catchSignals()
{
    if (m_signals || ::pipe(g_signalPipe) != 0)
        return;
    m_signals = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(m_signals.get(), &QSocketNotifier::activated, this, [this] {
        char c = 0;
        [[maybe_unused]] const auto n = ::read(g_signalPipe[0], &c, 1);
        m_interrupted = true;
        if (m_client)
            m_client->interrupt();
        emit interruption();
    });
    struct sigaction sa
    {};
    sa.sa_handler = onSignal;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

int ToolSession::record(const QString &path, const std::vector<CsvRecorder::Column> &columns,
                        double duration, bool quiet)
{
    // Ctrl+C ends a recording with its file whole.
    catchSignals();
    int code = kDone;
    std::unique_ptr<Recording> r =
        Recording::start(*m_client, path, columns, duration, quiet, &code);
    if (!r)
        return code;
    m_recordings.push_back(std::move(r));
    return kDone;
}

int ToolSession::endRecordings(Until until, QJsonArray *summaries)
{
    auto waiting = [this, until] {
        return until != Until::Now && !m_interrupted &&
               std::any_of(m_recordings.begin(), m_recordings.end(), [until](const auto &r) {
                   return (r->timed() || until == Until::AllOver) && !r->ended();
               });
    };
    if (waiting()) {
        QEventLoop loop;
        for (const auto &r : m_recordings)
            QObject::connect(r.get(), &Recording::over, &loop, [&] {
                if (!waiting())
                    loop.quit();
            });
        QObject::connect(this, &ToolSession::interruption, &loop, &QEventLoop::quit);
        loop.exec();
    }
    int code = kDone;
    for (const auto &r : m_recordings) {
        r->end(!m_interrupted);
        const int c = r->report(summaries);
        if (code == kDone)
            code = c;
    }
    m_recordings.clear();
    return code;
}

} // namespace kvx::cli
