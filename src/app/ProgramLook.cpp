#include "app/ProgramLook.h"

#include <QApplication>
#include <QFontDatabase>
#include <QStyle>
#include <QStyleFactory>

namespace kvx {

QFont programFont()
{
    const QStringList families = QFontDatabase::families();
    for (const char *name :
         {"MS Sans Serif", "Liberation Sans Narrow", "Liberation Sans", "Arimo", "DejaVu Sans"}) {
        if (families.contains(QLatin1String(name)))
            return QFont(QLatin1String(name), 8);
    }
    QFont font = QApplication::font();
    font.setPointSize(8);
    return font;
}

void applyProgramLook(bool userChoseStyle)
{
    // The windows were laid out for the classic Windows look: group captions sit on the frame
    // line, so the controls' positions inside a group come out where they belong.
    if (!userChoseStyle) {
        if (QStyle *style = QStyleFactory::create(QStringLiteral("Windows")))
            QApplication::setStyle(style);
    }
    QApplication::setFont(programFont());
}

} // namespace kvx
