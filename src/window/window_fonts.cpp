#include "window_fonts.h"

#include "layout_table.h"
#include "session.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QTableView>

namespace dorq {

namespace {

QFont fitted(QFont font, const QString &sample, int width)
{
    while (font.pointSizeF() > 6 && QFontMetrics(font).horizontalAdvance(sample) > width)
        font.setPointSizeF(font.pointSizeF() - 0.25);
    return font;
}

} // namespace

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

void fitFonts(QWidget *form)
{
    auto *description = form->findChild<QLabel *>(QStringLiteral("Label3"));
    QFont font = description->font();
    // The label's own measure, which knows its rich text and its link.
    while (font.pointSizeF() > 6 && description->heightForWidth(description->width()) >
                                        description->height()) {
        font.setPointSizeF(font.pointSizeF() - 0.25);
        description->setFont(font);
    }

    auto *clock = form->findChild<QLabel *>(QStringLiteral("Label4"));
    const int frame = 2 * clock->frameWidth() + 4;
    clock->setFont(fitted(designFont(ClockPointSize, true), QStringLiteral("00:00:00"),
                          clock->width() - frame));
    // The grid's one column must show a whole record beside the scroll bar and cell margins.
    auto *grid = form->findChild<QTableView *>(QStringLiteral("MSFlexGrid1"));
    const int column = grid->width() - 2 * grid->frameWidth() -
                       grid->style()->pixelMetric(QStyle::PM_ScrollBarExtent) - 8;
    const QFont gridFont =
        fitted(designFont(GridPointSize, false), QStringLiteral("8  00:00:00.00"), column);
    grid->setFont(gridFont);
    grid->horizontalHeader()->setFont(gridFont);
    grid->verticalHeader()->setDefaultSectionSize(QFontMetrics(gridFont).height() + 4);
    auto *lastLine = form->findChild<QLineEdit *>(QStringLiteral("Text1"));
    lastLine->setFont(fitted(
        form->font(), QStringLiteral("8  00:00:00.00<CR><LF>"),
        lastLine->width() - 2 * lastLine->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) - 6));
    auto *status = form->findChild<QLabel *>(QStringLiteral("Label2"));
    status->setFont(fitted(form->font(), SelectPortWarning, status->width()));
}

} // namespace dorq
