// The main window with scripts and files beside it: the recording of the poll cycle, and the
// socket through which the command-line tool reaches the port this window holds.

#include "app/Ev310Main.h"
#include "attach/AttachServer.h"
#include "controls/Dialogs.h"
#include "records/WindowRecording.h"

#include <QComboBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>

#include <cstdio>

namespace kvx {

void TFormMain::listenForTool()
{
    QString why;
    // Without the socket the window works as ever; only scripts cannot reach it.
    if (!m_attach->listen(ComboCOM->currentText(),
                          resolvePortName(ComboCOM->currentText(), m_settings.ports()), &why))
        std::fprintf(stderr, "Eval310: kvx310 cannot attach to this window: %s\n", qPrintable(why));
}

void TFormMain::BtnRecordClick()
{
    if (m_recording->running()) {
        stopRecording();
        return;
    }
    const QString path = Dialogs::chooseFile(
        this, FileRequest{true, tr("Record the Poll Cycle"), QStringLiteral("kvx310.csv"),
                          tr("CSV files (*.csv);;All files (*)")});
    // The port may have gone while the dialog was open.
    if (path.isEmpty() || !m_session.Connected())
        return;
    QString why;
    if (!m_recording->start(path, &why)) {
        Dialogs::message(this, MessageRequest{QMessageBox::Warning,
                                              tr("Could not record to %1.").arg(path), why});
        return;
    }
    BtnRecord->setText(tr("Stop &Record"));
    showRecording();
}

void TFormMain::stopRecording(const QString &why)
{
    if (!m_recording->running() && why.isEmpty())
        return;
    QString failure = why;
    if (!m_recording->stop(&failure) || !why.isEmpty()) {
        // A sentence of its own in the dialog.
        if (!failure.isEmpty())
            failure[0] = failure[0].toUpper();
        Dialogs::message(this,
                         MessageRequest{QMessageBox::Warning,
                                        tr("The recording to %1 stopped.").arg(m_recording->path()),
                                        tr("%1. The file keeps the %2 lines written.")
                                            .arg(failure)
                                            .arg(m_recording->lines())});
    }
    BtnRecord->setText(tr("&Record..."));
    showRecording();
}

void TFormMain::showRecording()
{
    if (!m_recording->running()) {
        LblRecord->clear();
        return;
    }
    const int s = int(m_recording->seconds());
    LblRecord->setText(tr("Recording %1:%2, %3")
                           .arg(s / 60)
                           .arg(s % 60, 2, 10, QLatin1Char('0'))
                           .arg(QLocale().formattedDataSize(m_recording->bytes())));
}

} // namespace kvx
