#include "app/Traffictable.h"

#include "link/Trafficlog.h"
#include "modbus/Trafficdecoder.h"

#include <QFontDatabase>
#include <algorithm>
#include <array>
#include <string>

namespace {

// The columns shown, as cells of the trace file's CSV row (TrafficCsvCells) and their captions.
struct TColumn {
    size_t Cell;
    const char* Caption;
};
constexpr std::array<TColumn, 14> Columns{{{0, "Time (us)"},
                                           {1, "Port"},
                                           {2, "Direction"},
                                           {3, "Bytes"},
                                           {4, "Transaction"},
                                           {5, "Unit"},
                                           {6, "Slave"},
                                           {8, "Function"},
                                           {9, "Reference"},
                                           {11, "Count"},
                                           {12, "Value"},
                                           {15, "Exception"},
                                           {16, "CRC"},
                                           {17, "Decoding"}}};
constexpr int TimeColumn = 0;
constexpr int BytesColumn = 3;

} // namespace

TTrafficTable::TTrafficTable(const TTrafficLog* log, QObject* parent)
    : QAbstractTableModel(parent), FLog(log) {}

int TTrafficTable::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int TTrafficTable::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(Columns.size());
}

QVariant TTrafficTable::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return {};
    if (role == Qt::DisplayRole)
        return FRows[static_cast<size_t>(index.row())][static_cast<size_t>(index.column())];
    if (role == Qt::TextAlignmentRole && index.column() == TimeColumn)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::FontRole && index.column() == BytesColumn)
        return QFontDatabase::systemFont(QFontDatabase::FixedFont);
    return {};
}

QVariant TTrafficTable::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromLatin1(Columns[static_cast<size_t>(section)].Caption);
}

void TTrafficTable::Update() {
    const std::vector<TTrafficLogFrame> frames = FLog->TakeSince(FSeen);
    if (frames.empty())
        return;
    const size_t room = TTrafficLog::Capacity - std::min(frames.size(), TTrafficLog::Capacity);
    if (FRows.size() > room) {
        beginRemoveRows({}, 0, static_cast<int>(FRows.size() - room) - 1);
        FRows.erase(FRows.begin(), FRows.end() - static_cast<std::ptrdiff_t>(room));
        endRemoveRows();
    }
    const int first = static_cast<int>(FRows.size());
    beginInsertRows({}, first, first + static_cast<int>(frames.size()) - 1);
    for (const TTrafficLogFrame& frame : frames) {
        const std::vector<std::string> cells = TrafficCsvCells(frame, FLog->OriginUs(), frame.target);
        std::vector<QString> row;
        row.reserve(Columns.size());
        for (const TColumn& column : Columns)
            row.push_back(QString::fromStdString(cells[column.Cell]));
        FRows.push_back(std::move(row));
    }
    endInsertRows();
}

void TTrafficTable::Clear() {
    beginResetModel();
    FRows.clear();
    endResetModel();
}
