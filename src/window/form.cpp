#include "form.h"

#include "layout_table.h"
#include "words.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTableView>
#include <QUrl>
#include <algorithm>
#include <cstring>
#include <vector>

namespace dorq {

void MessageBoxReporter::report(int number, const QString &text)
{
    QMessageBox::critical(m_parent, m_parent ? m_parent->windowTitle() : QString(),
                          QStringLiteral("Fout %1:\n\n%2").arg(number).arg(text));
}

void MessageBoxReporter::inform(const QString &text)
{
    QMessageBox::information(m_parent, m_parent ? m_parent->windowTitle() : QString(), text);
}

bool MessageBoxReporter::offerToKeep(int number, const QString &text)
{
    QMessageBox box(QMessageBox::Critical, m_parent ? m_parent->windowTitle() : QString(),
                    QStringLiteral("Fout %1:\n\n%2").arg(number).arg(text), QMessageBox::NoButton,
                    m_parent);
    QPushButton *keep = box.addButton(QStringLiteral("Toch onthouden"), QMessageBox::AcceptRole);
    box.setDefaultButton(box.addButton(QMessageBox::Ok));
    box.exec();
    return box.clickedButton() == keep;
}

namespace {

QWidget *createControl(const ControlEntry &entry, QWidget *parent)
{
    const QString text = QString::fromUtf8(entry.text);
    switch (entry.kind) {
    case ControlKind::Label: {
        auto *label = new QLabel(text, parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        return label;
    }
    case ControlKind::Frame:
        return new QGroupBox(text, parent);
    case ControlKind::Option:
        return new QRadioButton(text, parent);
    case ControlKind::TextBox: {
        auto *edit = new QLineEdit(text, parent);
        edit->setReadOnly(true); // written only by the program
        return edit;
    }
    case ControlKind::Grid:
        return new QTableView(parent);
    case ControlKind::Button:
        return new QPushButton(text, parent);
    }
    return nullptr;
}

// The typed pointer of the control an entry made.
void keep(Form &form, const ControlEntry &entry, QWidget *control)
{
    const auto is = [&](const char *name) { return std::strcmp(entry.name, name) == 0; };
    if (entry.kind == ControlKind::Button)
        form.command[std::size_t(entry.index)] = qobject_cast<QPushButton *>(control);
    else if (is("Option1") || is("Option2"))
        form.option[is("Option1") ? 0 : 1] = qobject_cast<QRadioButton *>(control);
    else if (is("Frame1") || is("Frame2"))
        (is("Frame1") ? form.frame1 : form.frame2) = qobject_cast<QGroupBox *>(control);
    else if (is("Text1"))
        form.text1 = qobject_cast<QLineEdit *>(control);
    else if (is("MSFlexGrid1"))
        form.grid = qobject_cast<QTableView *>(control);
    else if (is("Label1"))
        form.label1 = qobject_cast<QLabel *>(control);
    else if (is("Label2"))
        form.label2 = qobject_cast<QLabel *>(control);
    else if (is("Label3"))
        form.label3 = qobject_cast<QLabel *>(control);
    else if (is("Label4"))
        form.label4 = qobject_cast<QLabel *>(control);
}

// Controls by their design tab index; those that take no focus are passed over.
void setTabOrder(std::vector<std::pair<int, QWidget *>> controls)
{
    std::sort(controls.begin(), controls.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    QWidget *previous = nullptr;
    for (const auto &[tabIndex, control] : controls) {
        if (control->focusPolicy() == Qt::NoFocus)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, control);
        previous = control;
    }
}

void setUpGrid(QTableView *grid)
{
    grid->verticalHeader()->hide();
    // A fixed row height keeps a log of a million rows as cheap to show as a short one.
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->horizontalHeader()->setStretchLastSection(true);
    grid->horizontalHeader()->setSectionsClickable(false);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
    grid->setWordWrap(false);
    // Tab leaves the log for the next control, as everywhere; the arrows move within it.
    grid->setTabKeyNavigation(false);
}

// The label's text ends in the guide's file name, a link that opens it in the browser; the
// whole path, whatever its length, is in the link and its tooltip.
void linkGuide(QLabel *label, const QString &guide, ErrorReporter &reporter)
{
    // pre-wrap keeps the design's two spaces after "Verbind het".
    label->setText(QStringLiteral("<span style=\"white-space: pre-wrap\">%1<a href=\"%2\">%3</a>"
                                  "</span>")
                       .arg(label->text().toHtmlEscaped(),
                            QUrl::fromLocalFile(guide).toString(QUrl::FullyEncoded),
                            QFileInfo(guide).fileName().toHtmlEscaped()));
    label->setToolTip(QDir::toNativeSeparators(guide));
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    QObject::connect(label, &QLabel::linkActivated, label, [guide, &reporter](const QString &link) {
        if (!QDesktopServices::openUrl(QUrl(link)))
            reporter.inform(QStringLiteral("Er is geen programma dat de handleiding kan openen. "
                                           "Open het bestand zelf in een webbrowser:\n\n%1")
                                .arg(QDir::toNativeSeparators(guide)));
    });
}

QFont fitted(QFont font, const QString &sample, int width)
{
    while (font.pointSizeF() > 6 && QFontMetrics(font).horizontalAdvance(sample) > width)
        font.setPointSizeF(font.pointSizeF() - 0.25);
    return font;
}

// Where only a wider font is found, the fonts shrink until the widest text fits, so that
// nothing is clipped.
void fitFonts(QWidget *window, const Form &form)
{
    QLabel *description = form.label3;
    QFont font = description->font();
    // The label's own measure, which knows its rich text and its link.
    while (font.pointSizeF() > 6 &&
           description->heightForWidth(description->width()) > description->height()) {
        font.setPointSizeF(font.pointSizeF() - 0.25);
        description->setFont(font);
    }

    QLabel *clock = form.label4;
    const int frame = 2 * clock->frameWidth() + 4;
    clock->setFont(fitted(designFont(ClockPointSize, true), QStringLiteral("00:00:00"),
                          clock->width() - frame));
    // The grid's one column must show a whole record beside the scroll bar and cell margins.
    QTableView *grid = form.grid;
    const int column = grid->width() - 2 * grid->frameWidth() -
                       grid->style()->pixelMetric(QStyle::PM_ScrollBarExtent) - 8;
    const QFont gridFont =
        fitted(designFont(GridPointSize, false), QStringLiteral("8  00:00:00.00"), column);
    grid->setFont(gridFont);
    grid->horizontalHeader()->setFont(gridFont);
    grid->verticalHeader()->setDefaultSectionSize(QFontMetrics(gridFont).height() + 4);
    QLineEdit *lastLine = form.text1;
    lastLine->setFont(fitted(
        window->font(), QStringLiteral("8  00:00:00.00<CR><LF>"),
        lastLine->width() - 2 * lastLine->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) - 6));
    form.label2->setFont(fitted(window->font(), SelectPortWarning, form.label2->width()));
}

} // namespace

Form buildForm(QWidget *window, const QString &guide, ErrorReporter &reporter)
{
    Form form;
    QHash<QString, QWidget *> containers;
    std::vector<std::pair<int, QWidget *>> byTabIndex;
    for (const ControlEntry &entry : FormLayout) {
        QWidget *parent =
            entry.container ? containers.value(QLatin1String(entry.container)) : window;
        QWidget *control = createControl(entry, parent);
        control->setObjectName(QLatin1String(entry.name));
        control->setGeometry(toPixels(entry.left), toPixels(entry.top), toPixels(entry.width),
                             toPixels(entry.height));
        if (entry.kind == ControlKind::Frame)
            containers.insert(control->objectName(), control);
        if (entry.index >= 0)
            control->setProperty("index", entry.index);
        keep(form, entry, control);
        byTabIndex.emplace_back(entry.tabIndex, control);
    }
    form.label4->setAlignment(Qt::AlignCenter);
    form.label4->setWordWrap(false);
    setUpGrid(form.grid);
    linkGuide(form.label3, guide, reporter);
    setTabOrder(std::move(byTabIndex));
    fitFonts(window, form);
    return form;
}

QFont designFont(double pointSize, bool bold)
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                      QStringLiteral("Arial")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

QString guideLocation(const QString &programDir)
{
    const QDir dir(programDir);
    const QStringList installed = {
        dir.filePath(QStringLiteral("../share/doc/dorq-pulse/handleiding.html")),
        dir.filePath(QStringLiteral("doc/handleiding.html"))};
    for (const QString &place : installed + QStringList{QStringLiteral(DORQ_SOURCE_GUIDE)})
        if (QFileInfo(place).isFile())
            return QDir::cleanPath(QFileInfo(place).absoluteFilePath());
    return QStringLiteral("/usr/share/doc/dorq-pulse/handleiding.html");
}

} // namespace dorq
