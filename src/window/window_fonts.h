#pragma once

#include <QFont>

class QWidget;

namespace dorq {

// The design font (MS Sans Serif) where the system has it, else one made to the same
// measure (Liberation Sans, Arimo, Arial).
QFont designFont(double pointSize, bool bold);

// Where only a wider font is found, shrinks the fonts of Form1's controls until their widest
// text fits, so that nothing is clipped.
void fitFonts(QWidget *form);

} // namespace dorq
