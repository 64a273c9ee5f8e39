#include "settings/Snapshot.h"

#include "base/Errors.h"
#include "modbus/Registerdatastore.h"
#include "settings/Group.h"
#include "settings/Setting.h"
#include "settings/Setting_sectionlabel.h"
#include "settings/Settings.h"

#include <algorithm>
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

// Whether the unit confirmed every coil or register of `entry`.
bool UnitConfirmed(const TSetting& entry, const TRegisterDataStore& unit) {
    const auto [first, end] = SettingAddresses(entry);
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

// Whether `entry` keeps its value in the unit's coils or holding registers.
bool SettingInUnit(const TSetting& entry) {
    return !entry.InTemplate && (entry.RegisterType == rtCoil || entry.RegisterType == rtHoldingRegister);
}

// The holding registers of `entry`, or its coil: the first and one past the last address.
std::pair<int32_t, int32_t> SettingAddresses(const TSetting& entry) {
    return {entry.Register,
            entry.Register + (entry.RegisterType == rtCoil ? 1 : std::max(entry.RegisterSpan(), 1))};
}

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

void TSettings::PutBackToUnit(const std::vector<TDifference>& rows) {
    TRegisterDataStore& store = Store();
    {
        TStoreLock lock(store.Lock());
        for (const TDifference& row : rows) {
            TSetting& entry = *Groups.at(static_cast<size_t>(row.GroupIndex))
                                   ->Settings.at(static_cast<size_t>(row.EntryIndex));
            if (!SettingInUnit(entry) || !UnitConfirmed(entry, store))
                continue;
            const auto [first, end] = SettingAddresses(entry);
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
