#pragma once

#include <QString>

class QWidget;

namespace dorq {

// Where errors go once a handler has given up: a message box in the window, a recorder in
// tests, so that no modal dialog waits for a click.
class ErrorReporter
{
public:
    virtual ~ErrorReporter() = default;
    virtual void report(int number, const QString &text) = 0;
};

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
