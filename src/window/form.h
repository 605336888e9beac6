#pragma once

#include <QFont>
#include <QString>
#include <array>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableView;
class QWidget;

namespace dorq {

// Where errors go once a handler has given up: message boxes in the window, a recorder in
// tests, so that no modal dialog waits for a click.
class ErrorReporter
{
public:
    virtual ~ErrorReporter() = default;
    virtual void report(int number, const QString &text) = 0; // "Fout N:", the text
    virtual void inform(const QString &text) = 0;             // news, no error
    // An error about a device choice, offering to keep the choice all the same: true when
    // the operator asks to.
    virtual bool offerToKeep(int number, const QString &text) = 0;
};

class MessageBoxReporter : public ErrorReporter
{
public:
    explicit MessageBoxReporter(QWidget *parent) : m_parent(parent) {}
    void report(int number, const QString &text) override;
    void inform(const QString &text) override;
    bool offerToKeep(int number, const QString &text) override;

private:
    QWidget *m_parent;
};

// Form1's controls as the layout table places them, by their types.
struct Form
{
    QLabel *label1 = nullptr, *label2 = nullptr, *label3 = nullptr, *label4 = nullptr;
    QGroupBox *frame1 = nullptr, *frame2 = nullptr;
    std::array<QRadioButton *, 2> option{}; // Option1, Option2
    QLineEdit *text1 = nullptr;
    QTableView *grid = nullptr;             // MSFlexGrid1
    std::array<QPushButton *, 8> command{}; // Command1, indexes 0 to 7
};

// Builds the window's controls from the layout table, in the design's tab order and fonts
// (fitted to what this system has), the description ending in a link to the operator's
// guide at `guide`; a guide that nothing can open is said through `reporter`.
Form buildForm(QWidget *window, const QString &guide, ErrorReporter &reporter);

// The design font (MS Sans Serif) where the system has it, else one made to the same
// measure (Liberation Sans, Arimo, Arial).
QFont designFont(double pointSize, bool bold);

// The operator's guide as installed beside the program in `programDir` (Linux:
// ../share/doc/dorq-pulse, Windows packages: doc), else the source tree's copy of a build
// run in place; where there is none, where the Linux package puts it.
QString guideLocation(const QString &programDir);

} // namespace dorq
