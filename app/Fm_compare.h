#pragma once
// The comparison dialog: the settings whose values differ between the tree being edited and
// another source, in a sortable table; a double-click takes the engineer to the setting.
#include "app/Differencetable.h"
#include "features/Compare.h"

#include <QDialog>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QPushButton;

// The parts the result dialogs (comparison, write record) share: a read-only table selecting
// whole rows, with these column titles and row count; and the dialog's layout of a label above
// the table and Close and "Export..." below it. Returns the export button, which runs `onExport`
// behind the standard exception display.
QTableWidget* NewResultTable(QWidget* parent, const QStringList& titles, int rows);
QPushButton* LayOutResultDialog(QDialog* dialog, QLabel* label, QTableWidget* table,
                                std::function<void()> onExport);

class TfmCompare : public QDialog {
    Q_OBJECT
public:
    // Called with a row's group and entry positions when the row is double-clicked.
    using TGoTo = std::function<void(int32_t group, int32_t entry)>;

    TfmCompare(QWidget* parent, const std::string& otherTitle, std::vector<TDifference> differences,
               TGoTo goTo);

    // "12 settings differ"
    static std::string CountText(size_t count);

    TDifferenceTable* Table;
    QLabel* lbCount;
    QPushButton* btExport;

private:
    void TableDoubleClicked(int row);
    void btExportClick();

    std::string FOtherTitle;
    std::vector<TDifference> FDifferences;
    TGoTo FGoTo;
};
