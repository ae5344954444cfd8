#pragma once

// The program's version text and the short form the window title shows.

#include <QString>

namespace kvx {

// The build's four-part version text ("1.3.5.0"), or empty when the build has none.
[[nodiscard]] QString ReadFileVersion();

// "1.3.5.0" gives "1.35", "1.3" gives "1.30", an empty text stays empty: the major number,
// the dot, the minor digit, then the next part up to its dot (never the text's last
// character), and a "0" when nothing followed the minor digit.
[[nodiscard]] QString FormatVersion(const QString &version);

} // namespace kvx
