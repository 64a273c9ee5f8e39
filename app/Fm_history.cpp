#include "app/Fm_history.h"

#include "app/Dialogs.h"
#include "model/Savefile.h"
#include "settings/Setting.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

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

    const QStringList titles{"Time", "Port", "Group", "Setting", "Before", "After", "Unit holds", "Result"};
    Table = new QTableWidget(0, static_cast<int>(titles.size()), this);
    Table->setObjectName("Table");
    Table->setHorizontalHeaderLabels(titles);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->verticalHeader()->hide();
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
    Table->resizeColumnsToContents();
    Table->horizontalHeader()->setStretchLastSection(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    btExport = buttons->addButton(QStringLiteral("&Export..."), QDialogButtonBox::ActionRole);
    btExport->setObjectName("btExport");
    btExport->setEnabled(!FEntries.empty());
    connect(btExport, &QPushButton::clicked, this, [this] { RunHandler([this] { btExportClick(); }); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lbCount);
    layout->addWidget(Table);
    layout->addWidget(buttons);
}

void TfmHistory::btExportClick() {
    const QString path =
        RunFileDialog(this, {true, "Export...", ".csv", "CSV File (*.csv)|*.csv|All Files (*.*)|*.*"});
    if (path.isEmpty())
        return;
    SaveFileContent(path.toStdString(), HistoryCsv(FEntries));
}
