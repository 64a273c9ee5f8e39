#pragma once
// The parts of loading a settings file that decide what may be applied: which setting element
// holds the value of which entry (by number, as the file format intends, or by name, for files
// saved with other definitions), and whether each value may reach the register image.
#include "settings/Setting.h"

#include <pugixml.hpp>
#include <string>
#include <vector>

class TSettings;

// A value of the file, found and converted, waiting to be applied to its entry.
struct TPendingValue {
    TSetting* Entry;
    TLoadedValue Loaded;
};

// Where the file's group and setting numbers lead to a group or setting of another name than
// the file gives it, or lead nowhere while the name is in the file: a message about the first
// such place. Empty when numbers and names agree. Section headings, which all carry number 0,
// are not compared.
std::string NumberNameConflict(const TSettings& tree, const pugi::xml_node& deviceElement);

// Matching by names: each group of the tree takes the file's group of its name and each entry
// the setting of its name within that group, the k-th of equal names the k-th.
struct TNameMatch {
    struct TPair {
        TSetting* Entry;
        pugi::xml_node Element;
    };
    std::vector<TPair> Pairs;
    // A count, then one line for each group or setting of the file that matches nothing and is
    // skipped, and each one of the tree that the file lacks and that keeps its value.
    std::vector<std::string> Notes;
};
TNameMatch MatchByName(const TSettings& tree, const pugi::xml_node& deviceElement);

// Raises TModelError, naming the setting and the value, for the first value its register field
// cannot hold. Returns a line for every value outside its setting's limits, checked in the
// units that are in force once the values are applied.
std::vector<std::string> CheckLoadedValues(const std::vector<TPendingValue>& pending,
                                           const std::string& currentUnits);
