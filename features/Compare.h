#pragma once
// Comparing two sets of values of one device type by named setting: a snapshot holds what
// each setting would put into the unit's registers and how the engineer reads it, and two
// snapshots of the same tree compare entry by entry in tree order.
#include "settings/Snapshot.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

class TRegisterDataStore;
class TSettings;
struct TLoadOptions;

// A tree of the same definitions as `like`, numbered alike, whose settings read and write a
// store of its own: the values of a file or of the defaults are taken there, so the tree being
// edited (and the image the unit is written from) stay as they are.
class TScratchTree {
public:
    // `root` is the definition document's element from which `like` was built.
    TScratchTree(const TSettings& like, const pugi::xml_node& root);
    ~TScratchTree();
    TScratchTree(const TScratchTree&) = delete;
    TScratchTree& operator=(const TScratchTree&) = delete;

    // The factory defaults.
    TSnapshot Defaults();
    // The defaults, then the file loaded over them with the load's rules; values outside their
    // limits are taken as they are, since a comparison changes nothing. Raises the load's errors.
    TSnapshot File(const std::string& path, bool byName);
    // What `unit` holds as the unit confirmed it on this connection. An entry with a register
    // the unit has not confirmed gets no words and the text NotConfirmedText: it differs from
    // any value, as a change-only write sends it.
    TSnapshot Unit(const TRegisterDataStore& unit);
    static constexpr const char* NotConfirmedText = "(not confirmed)";

    // The values `fill` puts into the tree's own store, taken by every setting as after a read
    // of the unit, and shown in `units`.
    TSnapshot Values(const std::function<void(TRegisterDataStore& own)>& fill, const std::string& units);
    // The tree's values as a settings file holds them.
    std::string SaveToText() const;

private:
    std::unique_ptr<TRegisterDataStore> FStore;
    std::unique_ptr<TSettings> FTree;
};

// What a change-only write of `tree` sends, by setting: the entries whose values differ from
// `unit` (a snapshot of the unit's confirmed values), the unit's value first. The units
// selector, which never writes its register, is left out.
std::vector<TDifference> UnitChanges(const TSettings& tree, const TSnapshot& unit);
// The same against the confirmed values of the store `tree` reads and writes, taken through a scratch tree of
// `root` (the definition document's element `tree` was built from).
std::vector<TDifference> UnitChanges(const TSettings& tree, const pugi::xml_node& root);

// The text of a difference list for the command line: one line per setting, tab separated.
std::string DifferencesText(const std::vector<TDifference>& differences);
// The same as comma-separated text with a header line "Group,Setting,A,B" (or the given titles).
std::string DifferencesCsv(const std::vector<TDifference>& differences, const std::string& titleA = "A",
                           const std::string& titleB = "B");
