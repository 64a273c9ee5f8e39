#include "app/Fm_compare.h"

#include "app/Dialogs.h"
#include "app/Differencetable.h"
#include "base/Savefile.h"
#include "settings/Setting.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

QTableWidget* NewResultTable(QWidget* parent, const QStringList& titles, int rows) {
    auto* table = new QTableWidget(rows, static_cast<int>(titles.size()), parent);
    SetUpResultTable(table, titles);
    return table;
}

QPushButton* LayOutResultDialog(QDialog* dialog, QLabel* label, QTableWidget* table,
                                std::function<void()> onExport) {
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    QPushButton* exportButton =
        buttons->addButton(QStringLiteral("&Export..."), QDialogButtonBox::ActionRole);
    exportButton->setObjectName("btExport");
    QObject::connect(exportButton, &QPushButton::clicked, dialog,
                     [onExport = std::move(onExport)] { RunHandler(onExport); });
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(label);
    layout->addWidget(table);
    layout->addWidget(buttons);
    return exportButton;
}

TfmCompare::TfmCompare(QWidget* parent, const std::string& otherTitle, std::vector<TDifference> differences,
                       TGoTo goTo)
    : QDialog(parent), FOtherTitle(otherTitle), FDifferences(std::move(differences)), FGoTo(std::move(goTo)) {
    setObjectName("fmCompare");
    setWindowTitle(QString::fromStdString("Compare with " + otherTitle));
    resize(760, 480);

    lbCount = new QLabel(QString::fromStdString(CountText(FDifferences.size())), this);
    lbCount->setObjectName("lbCount");

    Table =
        new TDifferenceTable(this, FDifferences, QStringLiteral("This"), QString::fromStdString(otherTitle));
    connect(Table, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { TableDoubleClicked(row); });

    btExport = LayOutResultDialog(this, lbCount, Table, [this] { btExportClick(); });
    btExport->setEnabled(!FDifferences.empty());
}

std::string TfmCompare::CountText(size_t count) {
    if (count == 0)
        return "No settings differ";
    if (count == 1)
        return "1 setting differs";
    return std::to_string(count) + " settings differ";
}

void TfmCompare::TableDoubleClicked(int row) {
    if (Table->item(row, 0) == nullptr || !FGoTo)
        return;
    const TDifference& difference = FDifferences.at(Table->DifferenceAt(row));
    FGoTo(difference.GroupIndex, difference.EntryIndex);
}

void TfmCompare::btExportClick() {
    const QString path =
        RunFileDialog(this, {true, "Export...", ".csv", "CSV File (*.csv)|*.csv|All Files (*.*)|*.*"});
    if (path.isEmpty())
        return;
    // The rows as the table shows them now, sorted as the engineer left them.
    std::vector<TDifference> shown;
    for (int row = 0; row < Table->rowCount(); ++row)
        shown.push_back(FDifferences.at(Table->DifferenceAt(row)));
    SaveFileContent(path.toStdString(), DifferencesCsv(shown, "This", FOtherTitle));
}
