#include "controls/Dialogs.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace kvx {

namespace {
Dialogs::MessageHandler &messageHandler()
{
    static Dialogs::MessageHandler handler;
    return handler;
}
Dialogs::DialogHandler &dialogHandler()
{
    static Dialogs::DialogHandler handler;
    return handler;
}
Dialogs::FileHandler &fileHandler()
{
    static Dialogs::FileHandler handler;
    return handler;
}
std::function<void()> &beepHandler()
{
    static std::function<void()> handler;
    return handler;
}
} // namespace

void Dialogs::message(QWidget *parent, const MessageRequest &request)
{
    if (messageHandler()) {
        messageHandler()(parent, request);
        return;
    }
    QMessageBox box(request.icon, QCoreApplication::applicationName(), request.text,
                    QMessageBox::Ok, parent);
    if (!request.informative.isEmpty())
        box.setInformativeText(request.informative);
    box.exec();
}

int Dialogs::exec(QDialog &dialog)
{
    if (dialogHandler())
        return dialogHandler()(dialog);
    return dialog.exec();
}

QString Dialogs::chooseFile(QWidget *parent, const FileRequest &request)
{
    if (fileHandler())
        return fileHandler()(parent, request);
    if (!request.save)
        return QFileDialog::getOpenFileName(parent, request.caption, request.proposedName,
                                            request.filter);
    // A file is saved only into a folder that exists: one typed by mistake is refused here,
    // with the dialog opened again, rather than later by the write.
    QString start = request.proposedName;
    for (;;) {
        const QString path =
            QFileDialog::getSaveFileName(parent, request.caption, start, request.filter);
        const QFileInfo chosen(path);
        if (path.isEmpty() || chosen.absoluteDir().exists())
            return path;
        message(
            parent,
            MessageRequest{QMessageBox::Warning,
                           QCoreApplication::translate("Dialogs", "The folder %1 does not exist.")
                               .arg(QDir::toNativeSeparators(chosen.absolutePath())),
                           QCoreApplication::translate("Dialogs", "Choose a folder that exists.")});
        start = path;
    }
}

void Dialogs::beep()
{
    if (beepHandler())
        beepHandler()();
    else
        QApplication::beep();
}

void Dialogs::setMessageHandler(MessageHandler handler)
{
    messageHandler() = std::move(handler);
}
void Dialogs::setDialogHandler(DialogHandler handler)
{
    dialogHandler() = std::move(handler);
}
void Dialogs::setFileHandler(FileHandler handler)
{
    fileHandler() = std::move(handler);
}
void Dialogs::setBeepHandler(std::function<void()> handler)
{
    beepHandler() = std::move(handler);
}

} // namespace kvx
