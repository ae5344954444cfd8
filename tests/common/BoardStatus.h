#pragma once

// The two status lines the main window shows for each state of the board, as the tests that
// follow the link (not the window) write them down.

#include "link/BoardLink.h"

#include <QString>

namespace kvx {

inline QString statusLines(BoardState state, const BoardLink &link)
{
    switch (state) {
    case BoardState::Closed:
        return QStringLiteral("closed");
    case BoardState::Detecting:
        return QStringLiteral("Trying to detect the board.|");
    case BoardState::Active:
        return QStringLiteral("The board is active.|") +
               (link.KorveBoard()    ? QStringLiteral("KORVE detected!")
                : link.PentarBoard() ? QStringLiteral("Pentar detected!")
                                     : QStringLiteral("KVX310 evaluation board detected!"));
    case BoardState::NotResponding:
        return QStringLiteral("The board does not respond.|Please check the cable and power.");
    }
    return {};
}

} // namespace kvx
