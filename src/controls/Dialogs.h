#pragma once

// The one seam through which the program's modal message boxes and dialogs are shown, so that
// tests can answer them without a user. By default each call runs the real modal dialog.
// User-interface thread only.

#include <QMessageBox>
#include <QString>

#include <functional>

class QDialog;
class QWidget;

namespace kvx {

struct MessageRequest
{
    QMessageBox::Icon icon = QMessageBox::Warning;
    QString text;        // the fixed message
    QString informative; // detail shown under it, if any
};

class Dialogs
{
public:
    using MessageHandler = std::function<void(QWidget *parent, const MessageRequest &)>;
    using DialogHandler = std::function<int(QDialog &dialog)>;

    static void message(QWidget *parent, const MessageRequest &request);
    static void message(QWidget *parent, const QString &text)
    {
        message(parent, MessageRequest{QMessageBox::Warning, text, {}});
    }
    // Runs a modal dialog and returns its result code.
    static int exec(QDialog &dialog);

    // Replaces the real dialogs, for tests; an empty handler restores them.
    static void setMessageHandler(MessageHandler handler);
    static void setDialogHandler(DialogHandler handler);
};

} // namespace kvx
