// Fuzzes the snapshot reader (parseSnapshot: all that "Load board..." and kvx310 snapshot diff and
// restore make of a file; the file itself is read by readRegularFile, bounded). The input is the
// file. The hand-picked errors and restore rules are tst_snapshot's.
//
// Checked: an error is one short line without control characters, whatever the file holds; a
// snapshot read is written back by the program's writer and read again to the same values and
// RAM, differing in nothing from the first, with every value outside the editor's range marked
// as the board's own.

#include "FuzzInput.h"
#include "records/Snapshot.h"

#include <algorithm>

using namespace kvx;
using kvxfuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    QString why;
    const std::optional<Snapshot> read = parseSnapshot(text, &why);
    if (!read) {
        const QList<uint> characters = why.toUcs4();
        require(!why.isEmpty() && why.size() < 400 &&
                    std::all_of(characters.begin(), characters.end(),
                                [](uint c) { return QChar::isPrint(char32_t(c)); }),
                "an error is one short line without control characters");
        return 0;
    }
    const std::optional<Snapshot> back =
        parseSnapshot(snapshotText(*read, QStringLiteral("fuzz")), &why);
    require(back && back->ram == read->ram && back->values.size() == read->values.size(),
            "what the program writes reads back whole");
    for (std::size_t i = 0; i < back->values.size(); ++i) {
        const SnapshotValue &a = read->values[i], &b = back->values[i];
        require(a.item.reg == b.item.reg && a.item.field == b.item.field && a.motor == b.motor &&
                    a.value == b.value,
                "each value reads back as it was, in its place");
        require(b.held == !editorRange(b.item, b.motor).contains(b.value),
                "a value outside the editor's range is written as the board's own");
    }
    require(differences(*read, *back).empty(), "written back, a snapshot differs in nothing");
    return 0;
}
