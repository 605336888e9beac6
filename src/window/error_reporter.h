#pragma once

#include "reporter.h"

class QWidget;

namespace dorq {

class MessageBoxReporter : public ErrorReporter
{
public:
    explicit MessageBoxReporter(QWidget *parent) : m_parent(parent) {}
    void report(int number, const QString &text) override;

private:
    QWidget *m_parent;
};

QString errorMessage(int number, const QString &text); // "Fout 2: ..."

} // namespace dorq
