#pragma once

// Telegrams as the tests compare them: "AA BB CC DD", address byte first.

#include "chip/Datagram.h"
#include "chip/ValueFormat.h"
#include "editor/TelegramGroup.h"

#include <QLabel>
#include <QStringList>

namespace kvx::test {

inline QString telegramText(const Datagram &d)
{
    return QStringList{hexText(d.address), hexText(d.data.high), hexText(d.data.mid),
                       hexText(d.data.low)}
        .join(QLatin1Char(' '));
}

// The four fields of a register page's " SPI Telegram " group as shown.
inline QString telegramText(const TelegramFields &fields)
{
    QStringList texts;
    for (const QLabel *l : fields)
        texts << l->text();
    return texts.join(QLatin1Char(' '));
}

} // namespace kvx::test
