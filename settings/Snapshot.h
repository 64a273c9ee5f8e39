#pragma once
// What a tree's settings would put into the unit's registers and how the engineer reads them,
// taken at one moment: the baseline the marks of changed settings are measured against, and
// what a comparison of two sets of values of one device type is made of.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class TSetting;
class TSettings;

struct TSnapshotEntry {
    int32_t GroupIndex = 0;
    int32_t EntryIndex = 0;
    std::vector<uint16_t> Words;
    std::string Text;
    bool UnitsSelector = false;
    // False where the source holds no value for the entry (a unit has none for the template
    // groups, whose values are only copied from); such entries are not compared.
    bool Known = true;
};

struct TSnapshot {
    // The compared entries of the tree, in tree order.
    std::vector<TSnapshotEntry> Entries;
};

// One setting whose two values differ.
struct TDifference {
    int32_t GroupIndex = 0;
    int32_t EntryIndex = 0;
    std::string Group;
    std::string Setting;
    std::string A;
    std::string B;
    // The units selector never writes its register, so the unit never lacks its change.
    bool UnitsSelector = false;
    // A change against the unit where the unit confirmed no value: it is sent whatever the
    // engineer chooses, since nothing is known to put it back to.
    bool Unconfirmed = false;
};

// Every entry that writes registers (labels and headings do not), as the tree holds it now.
// `fromUnit`: the tree holds what was read from a unit, which has no template groups.
TSnapshot TakeSnapshot(const TSettings& tree, bool fromUnit = false);

// The entries of `a` and `b`, two snapshots of `tree`, that would write different registers,
// in tree order. Where the two texts read alike, each gets its stored number appended, so the
// row shows why it is listed.
std::vector<TDifference> CompareSnapshots(const TSettings& tree, const TSnapshot& a, const TSnapshot& b);

// Whether `entry` keeps its value in the unit's coils or holding registers.
bool SettingInUnit(const TSetting& entry);
// The holding registers of `entry`, or its coil: the first and one past the last address.
std::pair<int32_t, int32_t> SettingAddresses(const TSetting& entry);
