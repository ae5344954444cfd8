#pragma once

// The "Warning" dialog shown when a Go command's maximum acceleration is below what the
// motor's dividers need. Created hidden at program start and reused for the whole run, so the
// "do not notify me again" tick lasts until the program ends. User-interface thread only.

#include <QDialog>

class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;

namespace kvx {

class TFormWarning : public QDialog
{
    Q_OBJECT

public:
    static constexpr int mrYes = 6;
    static constexpr int mrNo = 7;
    // Where the number stands on the first line.
    static constexpr int kNumberX = 272;

    explicit TFormWarning(QWidget *parent = nullptr);

    QFrame *PnlText = nullptr;
    QLabel *LblText1 = nullptr;
    QLabel *LblNumber = nullptr;
    QLabel *LblText2 = nullptr;
    QLabel *LblText3 = nullptr;
    QCheckBox *CheckNotify = nullptr;
    QPushButton *BtnCont = nullptr;
    QPushButton *BtnAbort = nullptr;

    // Shows the smallest acceleration the dividers admit, as "8,", at the end of the first line.
    void setMinimum(int minimum);

    void BtnContClick() { done(mrYes); }
    void BtnAbortClick() { done(mrNo); }
    void FormShow();

protected:
    void showEvent(QShowEvent *event) override;
};

} // namespace kvx
