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

// A file to choose: for opening an existing one, or for saving under a proposed name.
struct FileRequest
{
    bool save = false;
    QString caption;
    QString proposedName; // a name or folder to start from
    QString filter;       // "Images (*.png);;All files (*)"
};

class Dialogs
{
public:
    using MessageHandler = std::function<void(QWidget *parent, const MessageRequest &)>;
    using DialogHandler = std::function<int(QDialog &dialog)>;
    // Returns the chosen path, or an empty text when the user cancels.
    using FileHandler = std::function<QString(QWidget *parent, const FileRequest &)>;

    static void message(QWidget *parent, const MessageRequest &request);
    static void message(QWidget *parent, const QString &text)
    {
        message(parent, MessageRequest{QMessageBox::Warning, text, {}});
    }
    // Runs a modal dialog and returns its result code.
    static int exec(QDialog &dialog);
    // Asks for a file; empty when the user cancels.
    static QString chooseFile(QWidget *parent, const FileRequest &request);
    // The system's default beep, for a key or an entry refused.
    static void beep();

    // Replaces the real dialogs, for tests; an empty handler restores them.
    static void setMessageHandler(MessageHandler handler);
    static void setDialogHandler(DialogHandler handler);
    static void setFileHandler(FileHandler handler);
    static void setBeepHandler(std::function<void()> handler);
};

} // namespace kvx
