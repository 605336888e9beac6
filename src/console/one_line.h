#pragma once

#include <QString>

namespace dorq {

// The text as one line of output: line breaks and other control characters, which could
// come with an echoed command or a device name, written as \r, \n, \t or \xNN, so that a
// script reading one answer per line stays in step; so are the bytes of a name that is not
// UTF-8 (see displayPath).
QString oneLine(const QString &text);

} // namespace dorq
