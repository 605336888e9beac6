#include "guide_link.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QUrl>

namespace dorq {

QString guideLocation(const QString &programDir)
{
    const QDir dir(programDir);
    const QStringList installed = {
        dir.filePath(QStringLiteral("../share/doc/dorq-pulse/handleiding.html")),
        dir.filePath(QStringLiteral("doc/handleiding.html")),
        dir.filePath(QStringLiteral("../doc/handleiding.html"))};
    for (const QString &place : installed + QStringList{QStringLiteral(DORQ_SOURCE_GUIDE)})
        if (QFileInfo(place).isFile())
            return QDir::cleanPath(QFileInfo(place).absoluteFilePath());
    return QStringLiteral("/usr/share/doc/dorq-pulse/handleiding.html");
}

void linkGuide(QLabel *label, const QString &guide)
{
    // pre-wrap keeps the design's two spaces after "Verbind het".
    label->setText(QStringLiteral("<span style=\"white-space: pre-wrap\">%1<a href=\"%2\">%3</a>"
                                  "</span>")
                       .arg(label->text().toHtmlEscaped(),
                            QUrl::fromLocalFile(guide).toString(QUrl::FullyEncoded),
                            QDir::toNativeSeparators(guide).toHtmlEscaped()));
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    QObject::connect(label, &QLabel::linkActivated, label,
                     [](const QString &link) { QDesktopServices::openUrl(QUrl(link)); });
}

} // namespace dorq
