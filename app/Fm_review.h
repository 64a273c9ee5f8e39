#pragma once
// The review before a change-only write: the settings the unit will take, each with a tick
// box; an unticked setting is put back to the unit's value and not sent.
#include "app/Dialogs.h"
#include "features/Compare.h"

#include <QDialog>
#include <functional>
#include <pugixml.hpp>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class TDifferenceTable;
class TSettings;

class TfmReview : public QDialog {
    Q_OBJECT
public:
    // `changes`: the unit's value as A, the new value as B.
    TfmReview(QWidget* parent, std::vector<TDifference> changes);

    // "3 settings will change on the unit"
    static std::string CountText(size_t count);
    // The changes whose rows are not ticked.
    std::vector<TDifference> Unticked() const;

    TDifferenceTable* Table;
    QLabel* lbCount;
    QCheckBox* cbDontAsk;
    QPushButton* btWrite;
    QPushButton* btCancel;

private:
    std::vector<TDifference> FChanges;
};

// Whether "Write Settings" shows the review first: yes until "Don't ask again" (user settings).
bool ReviewWanted();
void SetReviewWanted(bool wanted);

// Before a change-only write of `tree` online: shows what it changes on the unit, when wanted
// and anything does, and puts the unticked settings back to the unit's values. False when the
// engineer cancels, which changes nothing. `root`: the definition document's element.
bool ReviewChanges(QWidget* parent, TSettings& tree, const pugi::xml_node& root);

// "The unit does not hold 4 changed settings. Write them before leaving?"
std::string LeaveUnitQuestion(size_t count);
