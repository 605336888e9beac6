#pragma once

#include "error.h"

#include <QString>

// Words of the words room for what is kept in files: the journal and the settings (pulse
// programs' words, declared in words.h, are made beside them).
namespace dorq {

QString withSystemText(const QString &what, const Error &e);
// As root, why a path is not followed.
QString untrustedWay();
QString journalText(const Error &e);
QString settingsText(const Error &e);

} // namespace dorq
