// Names that the program keeps in the system code page (device names as the
// USB table holds them), turned into text for the widgets.
#pragma once

#include <QString>

#include "TextConv.h"

namespace strevo {

inline QString StoredNameToDisplay(const char* stored) {
    char utf8[256] = {};
    int capacity = sizeof utf8;
    if (AnsiToUtf8(stored, utf8, &capacity))
        return QString::fromUtf8(utf8);
    return QString::fromLocal8Bit(stored);
}

}  // namespace strevo
