#include "controls/Dialogs.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QFileDialog>

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
    return request.save ? QFileDialog::getSaveFileName(parent, request.caption,
                                                       request.proposedName, request.filter)
                        : QFileDialog::getOpenFileName(parent, request.caption,
                                                       request.proposedName, request.filter);
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
