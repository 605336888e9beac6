#pragma once

#include <QString>

class QLabel;

namespace dorq {

// The operator's guide as installed beside the program in `programDir` (Linux:
// ../share/doc/dorq-pulse, Windows packages: ../doc), else the source tree's copy of a build
// run in place; where there is none, where the Linux package puts it.
QString guideLocation(const QString &programDir);

// Ends the label's text with the guide's location, a link that opens it in the browser.
void linkGuide(QLabel *label, const QString &guide);

} // namespace dorq
