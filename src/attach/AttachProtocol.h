#pragma once

// Where a window that holds a port listens for the command-line tool, and how the two talk:
// one JSON object per line over a local socket in the user's runtime folder. The socket is
// named after what the port name stands for (a device, a simulated board), so that "COM1"
// and the device it is mapped to find the same window.
//
//   tool -> window                          window -> tool
//   {"op":"hello"}                          {"op":"hello","port","device","variant",
//                                            "identification","active","detecting",
//                                            "unanswered"}
//   {"op":"requests","id","datagrams":[..]} {"id","replies":[..],"failedAt","sent"}
//   {"op":"info","id"}                      {"id","exchangesPerSecond","lineShare",..}
//   {"op":"record","columns":[[row,name]]}  {"csv":"..."} as the cycles come
//                                           {"op":"bye"} when it lets the port go
//                                           {"error"} when it lets the tool go (too many
//                                            tools, too long silent, too much asked at once)
//
// Datagrams and replies travel as the 8 hexadecimal digits of their 4 bytes.

#include "chip/Datagram.h"
#include "link/PortName.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

class QLocalSocket;

namespace kvx {

// The folder the sockets live in, made (mode 0700) when missing; empty, with `why` saying so,
// when it cannot be made or is not the user's alone (another user made it first).
[[nodiscard]] QString attachFolder(QString *why = nullptr);
// The socket of the window that holds `target`; empty, with `why`, when there is no folder for
// it (or `target` names no port).
[[nodiscard]] QString attachSocketPath(const PortTarget &target, QString *why = nullptr);

[[nodiscard]] QString toHex(const Datagram &d);
[[nodiscard]] QString toHex(const Reply &r);
[[nodiscard]] std::optional<Datagram> datagramFromHex(const QString &hex);
[[nodiscard]] std::optional<Reply> replyFromHex(const QString &hex);

// One message as a line, and a line as a message (nothing when it is not a JSON object).
[[nodiscard]] QByteArray messageLine(const QJsonObject &message);
[[nodiscard]] std::optional<QJsonObject> parseMessage(const QByteArray &line);

// The process at the other end of `socket` runs as this user. Where the system cannot tell,
// the socket's folder and mode are all there is, and this says yes.
[[nodiscard]] bool peerIsThisUser(const QLocalSocket &socket);

// Lines longer than this are refused: a peer that never sends a newline cannot fill memory.
inline constexpr qsizetype kMaxMessage = 64 * 1024;

} // namespace kvx
