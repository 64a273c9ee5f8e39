#pragma once
// The write record of one device type in a table, newest first, with an export to CSV.
#include "features/History.h"

#include <QDialog>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;

class TfmHistory : public QDialog {
    Q_OBJECT
public:
    // `entries` newest first; `warnings`: the lines of the record that were skipped.
    TfmHistory(QWidget* parent, const std::string& deviceName, std::vector<THistoryEntry> entries,
               const std::vector<std::string>& warnings);

    QTableWidget* Table;
    QLabel* lbCount;
    QPushButton* btExport;

private:
    void btExportClick();

    std::vector<THistoryEntry> FEntries;
};
