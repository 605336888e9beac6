#include "log_actions.h"

#include "form.h"
#include "pulse_log_model.h"
#include "system.h"
#include "words.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QSaveFile>
#include <QTableView>
#include <algorithm>

namespace dorq {

std::optional<Error> saveLog(const PulseLogModel &log, const QString &path)
{
    QSaveFile file(path);
    const auto failed = [&] {
        Error e;
        e.step = ErrorStep::LogSave;
        e.number = lastFileError();
        e.systemText = systemText(e.number);
        e.path = path;
        return e;
    };
    clearFileError();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return failed();
    for (int row = 0; std::size_t(row) < log.recordCount(); ++row)
        file.write(log.rowText(row).toLatin1() + '\n');
    clearFileError();
    if (!file.commit())
        return failed();
    return std::nullopt;
}

LogActions::LogActions(QTableView *grid, const PulseLogModel &log, ErrorReporter &reporter)
    : QObject(grid), m_grid(grid), m_log(log), m_reporter(reporter)
{
    const auto add = [this](const QString &text, QKeySequence keys, Qt::ShortcutContext context,
                            auto slot) {
        auto *action = new QAction(text, m_grid);
        action->setShortcut(keys);
        action->setShortcutContext(context);
        connect(action, &QAction::triggered, this, slot);
        m_grid->addAction(action);
    };
    add(QStringLiteral("Kopiëren"), QKeySequence::Copy, Qt::WidgetShortcut,
        [this] { QApplication::clipboard()->setText(selectedRecords()); });
    add(QStringLiteral("Alles selecteren"), QKeySequence::SelectAll, Qt::WidgetShortcut,
        [this] { m_grid->selectAll(); });
    add(QStringLiteral("Log opslaan als..."), QKeySequence::Save, Qt::WindowShortcut,
        [this] { saveAs(); });
    m_grid->setContextMenuPolicy(Qt::ActionsContextMenu);
}

QString LogActions::selectedRecords() const
{
    QList<int> rows;
    for (const QModelIndex &index : m_grid->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    QString text;
    for (const int row : rows)
        if (std::size_t(row) < m_log.recordCount())
            text += m_log.rowText(row) + QLatin1Char('\n');
    return text;
}

void LogActions::saveAs()
{
    const QString path =
        QFileDialog::getSaveFileName(m_grid->window(), QStringLiteral("Log opslaan als"),
                                     QDir::home().filePath(QDate::currentDate().toString(
                                         QStringLiteral("'pulslog-'yyyy-MM-dd'.txt'"))),
                                     QStringLiteral("Tekstbestanden (*.txt);;Alle bestanden (*)"));
    if (path.isEmpty())
        return;
    if (const auto failure = saveLog(m_log, path))
        m_reporter.report(failure->number, errorText(*failure));
}

} // namespace dorq
