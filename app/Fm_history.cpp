#include "app/Fm_history.h"

#include "app/Dialogs.h"
#include "app/Fm_compare.h"
#include "base/Savefile.h"

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

TfmHistory::TfmHistory(QWidget* parent, const std::string& deviceName, std::vector<THistoryEntry> entries,
                       const std::vector<std::string>& warnings)
    : QDialog(parent), FEntries(std::move(entries)) {
    setObjectName("fmHistory");
    setWindowTitle(QString::fromStdString("History of " + deviceName));
    resize(900, 480);

    QString count =
        FEntries.size() == 1 ? QStringLiteral("1 write") : QStringLiteral("%1 writes").arg(FEntries.size());
    // A damaged line is no reason to hide the rest; the label says what was left out.
    for (const std::string& warning : warnings)
        count += "\n" + QString::fromStdString(warning);
    lbCount = new QLabel(count, this);
    lbCount->setObjectName("lbCount");

    Table = NewResultTable(
        this, {"Time", "Port", "Group", "Setting", "Before", "After", "Unit holds", "Result"}, 0);
    for (const THistoryEntry& entry : FEntries) {
        std::vector<THistoryChange> changes = entry.Changes;
        if (changes.empty())
            changes.push_back({});
        for (const THistoryChange& change : changes) {
            const int row = Table->rowCount();
            Table->insertRow(row);
            int column = 0;
            for (const std::string* text : {&entry.Time, &entry.Port, &change.Group, &change.Setting,
                                            &change.Before, &change.After, &change.Held, &entry.Result})
                Table->setItem(row, column++, new QTableWidgetItem(QString::fromStdString(*text)));
        }
    }
    btExport = LayOutResultDialog(this, lbCount, Table, [this] { btExportClick(); });
    btExport->setEnabled(!FEntries.empty());
}

void TfmHistory::btExportClick() {
    const QString path =
        RunFileDialog(this, {true, "Export...", ".csv", "CSV File (*.csv)|*.csv|All Files (*.*)|*.*"});
    if (path.isEmpty())
        return;
    SaveFileContent(path.toStdString(), HistoryCsv(FEntries));
}
