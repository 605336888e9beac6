#include "error_reporter.h"

#include <QMessageBox>

namespace dorq {

QString errorMessage(int number, const QString &text)
{
    return QStringLiteral("Fout %1:\n\n%2").arg(number).arg(text);
}

void MessageBoxReporter::report(int number, const QString &text)
{
    QMessageBox::critical(m_parent, m_parent ? m_parent->windowTitle() : QString(),
                          errorMessage(number, text));
}

} // namespace dorq
