#include "pulse_log_model.h"

#include <stdexcept>

namespace dorq {

void PulseLogModel::insertRecord(const std::string &record)
{
    if (record.size() != RecordLength)
        throw std::invalid_argument("pulse log: a record is " + std::to_string(RecordLength) +
                                    " characters, got \"" + record + '"');
    beginInsertRows({}, 0, 0);
    std::array<char, RecordLength> stored;
    record.copy(stored.data(), RecordLength);
    m_records.push_back(stored);
    endInsertRows();
}

QString PulseLogModel::rowText(int row) const
{
    if (row < 0 || std::size_t(row) >= m_records.size())
        return {}; // the empty row under the records
    const auto &r = m_records[m_records.size() - 1 - std::size_t(row)];
    return QString::fromLatin1(r.data(), int(RecordLength));
}

int PulseLogModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_records.size()) + 1;
}

int PulseLogModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant PulseLogModel::data(const QModelIndex &index, int role) const
{
    if (role == Qt::DisplayRole)
        return rowText(index.row());
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags PulseLogModel::flags(const QModelIndex &index) const
{
    // The empty row under the records can be neither selected nor copied.
    if (std::size_t(index.row()) >= m_records.size())
        return Qt::ItemIsEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QVariant PulseLogModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section != 0)
        return {};
    if (role == Qt::DisplayRole)
        return Header;
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

} // namespace dorq
