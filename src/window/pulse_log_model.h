#pragma once

#include "pulse_record.h"

#include <QAbstractTableModel>
#include <array>
#include <deque>
#include <string>

namespace dorq {

// The pulse log: a header, every record newest first, and the grid's initial empty row
// last. Records are stored as their 14 characters, oldest first, so that putting a new one
// on top costs the same at the millionth press as at the first.
class PulseLogModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    inline static const QString Header = QStringLiteral("Pulse and time  ");

    using QAbstractTableModel::QAbstractTableModel;

    void insertRecord(const std::string &record); // throws std::invalid_argument if malformed
    std::size_t recordCount() const { return m_records.size(); }
    QString rowText(int row) const; // row 0 is the newest record

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::deque<std::array<char, RecordLength>> m_records;
};

} // namespace dorq
