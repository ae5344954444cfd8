#pragma once

// What the harnesses share: a fuzz input read as a script, operand by operand (an input that
// ends early reads as zeros), and the check that ends a run when a rule is broken, naming it.

#include <QByteArray>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace kvxfuzz {

class FuzzInput
{
public:
    FuzzInput(const std::uint8_t *data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {}

    [[nodiscard]] bool atEnd() const { return m_pos >= m_size; }
    [[nodiscard]] std::size_t remaining() const { return m_size - m_pos; }
    std::uint8_t byte() { return atEnd() ? 0 : m_data[m_pos++]; }
    std::uint16_t word()
    {
        const std::uint16_t high = byte();
        return std::uint16_t(high << 8 | byte());
    }
    QByteArray bytes(std::size_t count)
    {
        count = std::min(count, remaining());
        const QByteArray taken(reinterpret_cast<const char *>(m_data + m_pos), qsizetype(count));
        m_pos += count;
        return taken;
    }
    QByteArray rest() { return bytes(remaining()); }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// A broken rule is a finding: the abort makes libFuzzer keep the input that broke it.
inline void require(bool ok, const char *rule)
{
    if (ok)
        return;
    std::fprintf(stderr, "broken rule: %s\n", rule);
    std::abort();
}

} // namespace kvxfuzz
