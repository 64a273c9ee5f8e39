#include "app/Fm_compare.h"

#include "app/Dialogs.h"
#include "app/Differencetable.h"
#include "model/Savefile.h"
#include "settings/Setting.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

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

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    btExport = buttons->addButton(QStringLiteral("&Export..."), QDialogButtonBox::ActionRole);
    btExport->setObjectName("btExport");
    btExport->setEnabled(!FDifferences.empty());
    connect(btExport, &QPushButton::clicked, this, [this] { RunHandler([this] { btExportClick(); }); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lbCount);
    layout->addWidget(Table);
    layout->addWidget(buttons);
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
