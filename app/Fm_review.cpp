// The review before "Write Settings", and the question before leaving a unit that does not
// hold the engineer's changes: both list what a change-only write would send.
#include "app/Fm_review.h"

#include "app/Differencetable.h"
#include "app/Fm_main.h"
#include "app/Registry.h"
#include "base/Usersettingskeys.h"
#include "definitions/Devices.h"
#include "settings/Device.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <utility>

TfmReview::TfmReview(QWidget* parent, std::vector<TDifference> changes)
    : QDialog(parent), FChanges(std::move(changes)) {
    setObjectName("fmReview");
    setWindowTitle(QStringLiteral("Review Changes"));
    resize(760, 480);

    lbCount = new QLabel(QString::fromStdString(CountText(FChanges.size())), this);
    lbCount->setObjectName("lbCount");
    Table = new TDifferenceTable(this, FChanges, QStringLiteral("Unit's Value"), QStringLiteral("New Value"),
                                 true);
    cbDontAsk = new QCheckBox(QStringLiteral("Don't ask again"), this);
    cbDontAsk->setObjectName("cbDontAsk");

    auto* buttons = new QDialogButtonBox(this);
    btWrite = buttons->addButton(QStringLiteral("&Write"), QDialogButtonBox::AcceptRole);
    btWrite->setObjectName("btWrite");
    btCancel = buttons->addButton(QDialogButtonBox::Cancel);
    btCancel->setObjectName("btCancel");
    btWrite->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lbCount);
    layout->addWidget(Table);
    layout->addWidget(cbDontAsk);
    layout->addWidget(buttons);
}

std::string TfmReview::CountText(size_t count) {
    return std::to_string(count) + (count == 1 ? " setting" : " settings") + " will change on the unit";
}

std::vector<TDifference> TfmReview::Unticked() const {
    std::vector<TDifference> unticked;
    for (int row = 0; row < Table->rowCount(); ++row) {
        if (!Table->Ticked(row))
            unticked.push_back(FChanges.at(Table->DifferenceAt(row)));
    }
    return unticked;
}

bool ReviewWanted() {
    return ReadRegistryBool(UserSettings::ReviewChangesBeforeWriting, true);
}

void SetReviewWanted(bool wanted) {
    WriteRegistryBool(UserSettings::ReviewChangesBeforeWriting, wanted);
}

bool ReviewChanges(QWidget* parent, TSettings& tree, const pugi::xml_node& root) {
    if (!ReviewWanted())
        return true;
    const std::vector<TDifference> changes = UnitChanges(tree, root);
    // Nothing differs: the write itself says so (or sends the commit still owed).
    if (changes.empty())
        return true;
    TfmReview dialog(parent, changes);
    if (RunReview(dialog) != QDialog::Accepted)
        return false;
    if (dialog.cbDontAsk->isChecked())
        SetReviewWanted(false);
    const std::vector<TDifference> unticked = dialog.Unticked();
    if (!unticked.empty())
        tree.PutBackToUnit(unticked);
    return true;
}

std::string LeaveUnitQuestion(size_t count) {
    return "The unit does not hold " + std::to_string(count) +
           (count == 1 ? " changed setting" : " changed settings") + ". Write them before leaving?";
}

bool TfmMain::MayLeaveUnit(std::function<void()> leave, bool& asked) {
    // A write asked for by this question has ended well: its leaving goes ahead unasked.
    asked = std::exchange(FLeaving, false);
    if (asked)
        return true;
    TDevice* device = FCurrentDevice;
    // Only where a write could be started: online, after a read, with no run under way.
    if (device == nullptr || !device->Online || !btWriteSettingsNew->isEnabled())
        return true;
    const size_t count = UnitChanges(*device->Settings, FDevices->Document->document_element()).size();
    if (count == 0)
        return true;
    asked = true;
    switch (AskYesNoCancel(LeaveUnitQuestion(count))) {
    case TAnswer::Yes:
        // Leaves once the write has ended well; a failure, a difference or a stop keeps the
        // window, and the write's own message tells why.
        if (StartWrite(false))
            FLeaveAfterWrite = std::move(leave);
        return false;
    case TAnswer::No:
        return true;
    default:
        return false;
    }
}
