#include "line_reader.h"

#include <iostream>

namespace dorq {

std::unique_ptr<LineReader> LineReader::standardInput()
{
    return std::make_unique<LineReader>(std::cin);
}

// The reading thread delivers what it reads; it cannot be held back here.
void LineReader::setPaused(bool) {}

} // namespace dorq
