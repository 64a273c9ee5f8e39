#include "model/Compare.h"

#include "modbus/Registerdatastore.h"
#include "model/Csv.h"
#include "model/Device.h"
#include "model/Errors.h"
#include "model/Group.h"
#include "model/Settings.h"
#include "settings/Setting.h"
#include "settings/Setting_sectionlabel.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// The group as the engineer finds it: a group of ten copies adds the copy's heading, since its
// settings' names repeat in every copy.
std::string GroupText(const TGroup& group, int32_t entryIndex) {
    if (!group.TenGroups)
        return group.Name;
    for (int32_t i = entryIndex; i >= 0; --i) {
        const TSetting* entry = group.Settings[static_cast<size_t>(i)].get();
        if (dynamic_cast<const TSettingSectionLabel*>(entry) != nullptr)
            return group.Name + " / " + entry->Name;
    }
    return group.Name;
}

std::string StoredNumber(const std::vector<uint16_t>& words) {
    if (words.size() == 1)
        return std::to_string(words[0]);
    if (words.size() == 2)
        return std::to_string((static_cast<uint32_t>(words[0]) << 16) | words[1]);
    std::string text;
    for (const uint16_t word : words)
        text += (text.empty() ? "" : " ") + std::to_string(word);
    return text;
}

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

// Whether `entry` keeps its value in the unit's coils or holding registers.
bool InUnit(const TSetting& entry) {
    return !entry.InTemplate && (entry.RegisterType == rtCoil || entry.RegisterType == rtHoldingRegister);
}

// The holding registers of `entry`, or its coil: the first and one past the last address.
std::pair<int32_t, int32_t> Addresses(const TSetting& entry) {
    return {entry.Register,
            entry.Register + (entry.RegisterType == rtCoil ? 1 : std::max(entry.RegisterSpan(), 1))};
}

// Whether the unit confirmed every coil or register of `entry`.
bool UnitConfirmed(const TSetting& entry, const TRegisterDataStore& unit) {
    const auto [first, end] = Addresses(entry);
    for (int32_t address = first; address < end; ++address) {
        bool coil = false;
        int16_t word = 0;
        if (entry.RegisterType == rtCoil ? !unit.ConfirmedCoil(address, coil)
                                         : !unit.ConfirmedRegister(address, word))
            return false;
    }
    return true;
}

} // namespace

TSnapshot TakeSnapshot(const TSettings& tree, bool fromUnit) {
    TSnapshot snapshot;
    for (size_t g = 0; g < tree.Groups.size(); ++g) {
        const TGroup& group = *tree.Groups[g];
        for (size_t e = 0; e < group.Settings.size(); ++e) {
            const TSetting& entry = *group.Settings[e];
            std::vector<uint16_t> words = entry.StoredWords();
            if (words.empty())
                continue;
            snapshot.Entries.push_back({static_cast<int32_t>(g), static_cast<int32_t>(e), std::move(words),
                                        entry.Text(), entry.IsUnitsSelector,
                                        !(fromUnit && entry.InTemplate)});
        }
    }
    return snapshot;
}

std::vector<TDifference> CompareSnapshots(const TSettings& tree, const TSnapshot& a, const TSnapshot& b) {
    if (a.Entries.size() != b.Entries.size())
        throw TModelError("The two sets of values belong to different device types");
    std::vector<TDifference> differences;
    for (size_t i = 0; i < a.Entries.size(); ++i) {
        const TSnapshotEntry& x = a.Entries[i];
        const TSnapshotEntry& y = b.Entries[i];
        if (x.Words == y.Words || !x.Known || !y.Known)
            continue;
        const TGroup& group = *tree.Groups.at(static_cast<size_t>(x.GroupIndex));
        TDifference row{x.GroupIndex,
                        x.EntryIndex,
                        GroupText(group, x.EntryIndex),
                        group.Settings.at(static_cast<size_t>(x.EntryIndex))->Name,
                        x.Text,
                        y.Text,
                        x.UnitsSelector};
        if (x.Text == y.Text) {
            row.A += " (" + StoredNumber(x.Words) + ")";
            row.B += " (" + StoredNumber(y.Words) + ")";
        }
        differences.push_back(std::move(row));
    }
    return differences;
}

void TSettings::SetBaseline(TSnapshot baseline, bool fromUnit) {
    Baseline = std::move(baseline);
    BaselineFromUnit = fromUnit;
    UpdateMarks();
}

void TSettings::UpdateMarks() {
    TSnapshot now;
    if (!Baseline.Entries.empty()) {
        TStoreLock lock(Store().Lock()); // a polling worker may be taking values into the tree
        now = TakeSnapshot(*this);
    }
    for (auto& group : Groups) {
        for (auto& entry : group->Settings)
            entry->Marked = false;
    }
    if (now.Entries.size() == Baseline.Entries.size()) {
        for (size_t i = 0; i < now.Entries.size(); ++i) {
            const TSnapshotEntry& then = Baseline.Entries[i];
            if (then.Words == now.Entries[i].Words || !then.Known || (BaselineFromUnit && then.UnitsSelector))
                continue;
            Groups[static_cast<size_t>(then.GroupIndex)]
                ->Settings[static_cast<size_t>(then.EntryIndex)]
                ->Marked = true;
        }
    }
    for (auto& group : Groups) {
        group->Marked = false;
        for (auto& entry : group->Settings) {
            group->Marked = group->Marked || entry->Marked;
            entry->ShowMark();
        }
        group->ShowMark();
    }
}

size_t TSettings::MarkedCount() const {
    size_t count = 0;
    for (const auto& group : Groups) {
        for (const auto& entry : group->Settings)
            count += entry->Marked ? 1 : 0;
    }
    return count;
}

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
            if (!InUnit(entry))
                continue;
            bool confirmed = true;
            const auto [first, end] = Addresses(entry);
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

void TSettings::PutBackToUnit(const std::vector<TDifference>& rows) {
    TRegisterDataStore& store = Store();
    {
        TStoreLock lock(store.Lock());
        for (const TDifference& row : rows) {
            TSetting& entry = *Groups.at(static_cast<size_t>(row.GroupIndex))
                                   ->Settings.at(static_cast<size_t>(row.EntryIndex));
            if (!InUnit(entry) || !UnitConfirmed(entry, store))
                continue;
            const auto [first, end] = Addresses(entry);
            for (int32_t address = first; address < end; ++address) {
                if (entry.RegisterType == rtCoil)
                    store.RevertCoil(address);
                else
                    store.RevertRegister(address, entry.BitMask);
            }
            // The setting reads its value back as after a read of the unit.
            entry.MarkForRead();
            entry.ReadFromStore();
            if (entry.DisplayPending) {
                entry.DisplayPending = false;
                entry.UpdateDisplay(true);
            }
        }
    }
    UpdateMarks();
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
