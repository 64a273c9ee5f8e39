#include "app/Differencetable.h"

#include <QHeaderView>

namespace {
// Where a row came from, kept with it through sorting.
constexpr int DifferenceRole = Qt::UserRole;
} // namespace

TDifferenceTable::TDifferenceTable(QWidget* parent, const std::vector<TDifference>& differences,
                                   const QString& titleA, const QString& titleB, bool checkable)
    : QTableWidget(static_cast<int>(differences.size()), 4, parent) {
    SetUpResultTable(this, {QStringLiteral("Group"), QStringLiteral("Setting"), titleA, titleB});
    for (size_t i = 0; i < differences.size(); ++i) {
        const TDifference& row = differences[i];
        int column = 0;
        for (const std::string* text : {&row.Group, &row.Setting, &row.A, &row.B}) {
            auto* item = new QTableWidgetItem(QString::fromStdString(*text));
            item->setData(DifferenceRole, static_cast<int>(i));
            if (checkable && column == 0) {
                item->setCheckState(Qt::Checked);
                if (row.Unconfirmed) {
                    item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable & ~Qt::ItemIsEnabled);
                    item->setToolTip(QStringLiteral("The unit has not confirmed its value: it is written."));
                }
            }
            setItem(static_cast<int>(i), column++, item);
        }
    }
    resizeColumnsToContents();
    horizontalHeader()->setStretchLastSection(true);
    setSortingEnabled(true);
}

void SetUpResultTable(QTableWidget* table, const QStringList& titles) {
    table->setObjectName("Table");
    table->setHorizontalHeaderLabels(titles);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
}

size_t TDifferenceTable::DifferenceAt(int row) const {
    return static_cast<size_t>(item(row, 0)->data(DifferenceRole).toInt());
}

bool TDifferenceTable::Ticked(int row) const {
    return item(row, 0)->checkState() == Qt::Checked;
}
