#pragma once
// The table of settings whose values differ, as the comparison and the review before a write
// show it: group, setting and the two values, sortable, each row knowing its difference.
#include "features/Compare.h"

#include <QTableWidget>
#include <cstddef>
#include <vector>

// The look every result table shares: these column titles, read-only, whole rows selected,
// no row numbers.
void SetUpResultTable(QTableWidget* table, const QStringList& titles);

class TDifferenceTable : public QTableWidget {
    Q_OBJECT
public:
    // `checkable`: a tick box on each row, all ticked; a row the unit confirmed no value for
    // stays ticked, as it is sent whatever is chosen.
    TDifferenceTable(QWidget* parent, const std::vector<TDifference>& differences, const QString& titleA,
                     const QString& titleB, bool checkable = false);

    // The position in the differences of the row shown at `row`, wherever sorting has put it.
    size_t DifferenceAt(int row) const;
    // Whether the row shown at `row` is ticked.
    bool Ticked(int row) const;
};
