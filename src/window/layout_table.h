#pragma once

#include <array>

namespace dorq {

enum class ControlKind { Label, Frame, Option, TextBox, Grid, Button };

// One control of the window as designed: positions in twips within its container.
struct ControlEntry
{
    const char *name; // becomes the widget's objectName
    int index;        // position in a control array, -1 for a single control
    ControlKind kind;
    const char *container; // nullptr for the window itself
    const char *text;      // UTF-8
    int left, top, width, height;
    int tabIndex;
};

constexpr int TwipsPerPixel = 15;
constexpr int toPixels(int twips)
{
    return twips / TwipsPerPixel;
}

inline constexpr const char *FormCaption = "DORQ PLC Pulse test programma Berlio 2004";
constexpr int FormWidth = 3825;
constexpr int FormHeight = 8145;
constexpr double ClockPointSize = 13.5;
constexpr double GridPointSize = 8.25;

// Containers come before what they contain.
extern const std::array<ControlEntry, 18> FormLayout;

} // namespace dorq
