#include "features/Compare.h"

#include "base/Csv.h"
#include "base/Errors.h"
#include "modbus/Registerdatastore.h"
#include "settings/Device.h"
#include "settings/Group.h"
#include "settings/Setting.h"
#include "settings/Setting_sectionlabel.h"
#include "settings/Settings.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// The settings element of the definition document from which `tree` was built.
pugi::xml_node SettingsElement(const TSettings& tree, const pugi::xml_node& root) {
    const int32_t id = tree.Device != nullptr ? tree.Device->SettingsId : 0;
    for (pugi::xml_node child : root.children("settings")) {
        if (child.attribute("settings_id").as_int() == id)
            return child;
    }
    throw TModelError("Could not find a settings node with id " + std::to_string(id));
}

// The numbers the first group and the first numbered setting of `tree` took when it was built.
void FirstIds(const TSettings& tree, int32_t& group, int32_t& setting) {
    group = tree.Groups.empty() ? 0 : tree.Groups.front()->Id;
    setting = 0;
    for (const auto& g : tree.Groups) {
        for (const auto& entry : g->Settings) {
            const TSetting* numbered = entry.get();
            if (numbered != nullptr && dynamic_cast<const TSettingSectionLabel*>(numbered) == nullptr) {
                setting = numbered->Id;
                return;
            }
        }
    }
}

} // namespace

TScratchTree::TScratchTree(const TSettings& like, const pugi::xml_node& root)
    : FStore(std::make_unique<TRegisterDataStore>()),
      FTree(std::make_unique<TSettings>(like.Device, *FStore)) {
    // Numbered as `like` was, so a settings file finds its groups and settings by number here too.
    FirstIds(like, FTree->NextGroupId, FTree->NextSettingId);
    FTree->LoadFromXml(SettingsElement(like, root));
    FStore->Reset();
    FTree->RegisterWithStore();
}

TScratchTree::~TScratchTree() = default;

TSnapshot TScratchTree::Defaults() {
    FTree->RestoreDefaults();
    return TakeSnapshot(*FTree);
}

TSnapshot TScratchTree::File(const std::string& path, bool byName) {
    FTree->RestoreDefaults();
    TLoadOptions options;
    options.ByName = byName;
    options.AllowOutOfRange = true;
    FTree->LoadFromFile(path, options);
    return TakeSnapshot(*FTree);
}

TSnapshot TScratchTree::Unit(const TRegisterDataStore& unit) {
    // The unit's confirmed values become this tree's image, which its settings then read.
    std::vector<std::pair<int32_t, int32_t>> unconfirmed;
    for (size_t g = 0; g < FTree->Groups.size(); ++g) {
        const TGroup& group = *FTree->Groups[g];
        for (size_t e = 0; e < group.Settings.size(); ++e) {
            const TSetting& entry = *group.Settings[e];
            if (!SettingInUnit(entry))
                continue;
            bool confirmed = true;
            const auto [first, end] = SettingAddresses(entry);
            for (int32_t address = first; address < end; ++address) {
                if (entry.RegisterType == rtCoil) {
                    bool value = false;
                    confirmed = unit.ConfirmedCoil(address, value) && confirmed;
                    FStore->SetCoil(address, value);
                } else {
                    int16_t value = 0;
                    confirmed = unit.ConfirmedRegister(address, value) && confirmed;
                    FStore->SetHoldingRegister(address, value);
                }
            }
            if (!confirmed)
                unconfirmed.emplace_back(static_cast<int32_t>(g), static_cast<int32_t>(e));
        }
    }
    FTree->TakeValuesFromStore();
    TSnapshot snapshot = TakeSnapshot(*FTree, true);
    for (TSnapshotEntry& entry : snapshot.Entries) {
        if (std::find(unconfirmed.begin(), unconfirmed.end(),
                      std::pair(entry.GroupIndex, entry.EntryIndex)) != unconfirmed.end()) {
            entry.Words.clear();
            entry.Text = NotConfirmedText;
        }
    }
    return snapshot;
}

std::vector<TDifference> UnitChanges(const TSettings& tree, const TSnapshot& unit) {
    TSnapshot current;
    {
        TStoreLock lock(tree.Store().Lock()); // a polling worker may be taking values into the tree
        current = TakeSnapshot(tree);
    }
    std::vector<TDifference> changes;
    for (TDifference& row : CompareSnapshots(tree, unit, current)) {
        if (row.UnitsSelector)
            continue;
        const auto at =
            std::find_if(unit.Entries.begin(), unit.Entries.end(), [&row](const TSnapshotEntry& e) {
                return e.GroupIndex == row.GroupIndex && e.EntryIndex == row.EntryIndex;
            });
        row.Unconfirmed = at != unit.Entries.end() && at->Words.empty();
        changes.push_back(std::move(row));
    }
    return changes;
}

std::vector<TDifference> UnitChanges(const TSettings& tree, const pugi::xml_node& root) {
    TScratchTree scratch(tree, root);
    TSnapshot unit;
    {
        TStoreLock lock(tree.Store().Lock()); // the worker's reads confirm values too
        unit = scratch.Unit(tree.Store());
    }
    return UnitChanges(tree, unit);
}

TSnapshot TScratchTree::Values(const std::function<void(TRegisterDataStore& own)>& fill,
                               const std::string& units) {
    FTree->RestoreDefaults();
    fill(*FStore);
    FTree->TakeValuesFromStore();
    FTree->SetCurrentUnits(units);
    return TakeSnapshot(*FTree, true);
}

std::string TScratchTree::SaveToText() const {
    return FTree->SaveToText();
}

std::string DifferencesText(const std::vector<TDifference>& differences) {
    std::string text;
    for (const TDifference& row : differences)
        text += row.Group + '\t' + row.Setting + '\t' + row.A + '\t' + row.B + '\n';
    return text;
}

std::string DifferencesCsv(const std::vector<TDifference>& differences, const std::string& titleA,
                           const std::string& titleB) {
    TCsvWriter csv;
    csv.AddRow({"Group", "Setting", titleA, titleB});
    for (const TDifference& row : differences)
        csv.AddRow({row.Group, row.Setting, CsvSafeText(row.A), CsvSafeText(row.B)});
    return csv.Text();
}
