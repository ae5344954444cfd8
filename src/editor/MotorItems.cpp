#include "editor/MotorItems.h"

#include "chip/ValueFormat.h"

namespace kvx {

const RegisterDef &motorItemDef(int item)
{
    return motorRegister(motorItemRegister(item));
}

Datagram composeMotorItem(int motor, int item, std::span<const std::int64_t> values)
{
    const RegisterDef &reg = motorItemDef(item);
    return Datagram::make(writeAddress(reg, motor).value_or(0), pack(reg, values));
}

QStringList fieldTexts(const RegisterDef &reg, const DataBytes &data)
{
    QStringList texts;
    const std::uint32_t d = data.value();
    for (const FieldDef &f : reg.fields) {
        const std::int64_t v = unpackField(f, d);
        texts << (f.kind == FieldKind::FlagSet ? IntToBin(std::uint32_t(v), f.width)
                                               : QString::number(v));
    }
    return texts;
}

std::uint32_t copiedFlags(const QString &text, int width)
{
    std::uint32_t flags = 0;
    for (int bit = 0; bit < width; ++bit) {
        const qsizetype at = width - 1 - bit;
        if (at < text.size() && text.at(at) == QLatin1Char('1'))
            flags |= 1u << bit;
    }
    return flags;
}

} // namespace kvx
