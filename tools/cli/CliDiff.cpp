#include "CliDiff.h"

#include "CliOffline.h"
#include "CliOnline.h"

#include "base/Errors.h"
#include "definitions/Devices.h"
#include "features/Compare.h"
#include "features/Jsonlines.h"
#include "modbus/Registerdatastore.h"
#include "settings/Device.h"
#include "settings/Group.h"
#include "settings/Setting.h"
#include "settings/Settings.h"

#include <QJsonObject>
#include <memory>
#include <ostream>

namespace {

constexpr int DiffSame = 0;
constexpr int DiffDifferent = 1;
constexpr int DiffTrouble = 2;

// One side of the comparison: a catalogue of its own, numbered as a fresh run numbers it, so
// files find their settings and the two sides line up entry by entry.
struct TSide {
    std::unique_ptr<TRegisterDataStore> Store;
    std::unique_ptr<TDevices> Devices;
    TDevice* Device = nullptr;
    TSnapshot Values;
};

TSide TakeSide(const TCliOptions& options, const std::string& source, const TCliLink& link,
               std::ostream& err) {
    TSide side;
    side.Store = std::make_unique<TRegisterDataStore>();
    side.Devices = std::make_unique<TDevices>(*side.Store);
    side.Devices->LoadFromFile(options.definitionFile);
    side.Device = FindCliDevice(*side.Devices, options.positional[0]);
    if (source.rfind("unit:", 0) == 0) {
        const std::string port = source.substr(5);
        std::string error;
        const auto target = ParsePortTarget(port, &error);
        if (!target)
            throw TModelError(error);
        WithUnitRead(*side.Devices, *target, link, err, [&](TDevice& found) {
            if (&found != side.Device) {
                throw TModelError("The unit on " + port + " is a '" + found.Name + "', not a '" +
                                  side.Device->Name + "'");
            }
            side.Values = TakeSnapshot(*found.Settings, true);
        });
        return side;
    }
    TSettings& tree = *side.Device->Settings;
    TRegisterDataStore& store = *side.Store;
    store.Reset();
    tree.RegisterWithStore();
    tree.RestoreDefaults();
    if (source != "defaults") {
        // A comparison changes nothing, so values outside their limits need no consent.
        TCliOptions load = options;
        load.allowOutOfRange = true;
        LoadCliSettingsFile(tree, source, load, err);
    }
    side.Values = TakeSnapshot(tree);
    return side;
}

} // namespace

int CliDiff(const TCliOptions& options, std::ostream& out, std::ostream& err) {
    if (options.positional.size() != 3 || !options.output.empty() || options.allowOutOfRange) {
        err << "usage: dezadizi-cli diff DEVICE A B [-d FILE] [--csv] [--by-name] [--timeout MS] [--json]\n";
        return DiffTrouble;
    }
    auto link = TakeCliLink(options, err);
    if (!link)
        return DiffTrouble;
    // Trouble, not a difference: the exit status 1 says the two differ.
    if (!OpenCliTrace(options, *link, true, err))
        return DiffTrouble;
    try {
        const TSide a = TakeSide(options, options.positional[1], *link, err);
        const TSide b = TakeSide(options, options.positional[2], *link, err);
        const std::vector<TDifference> differences =
            CompareSnapshots(*a.Device->Settings, a.Values, b.Values);
        if (options.json) {
            for (const TDifference& difference : differences)
                out << JsonLine(JsonDifference(difference));
            out << std::flush;
        } else {
            out << (options.csv ? DifferencesCsv(differences) : DifferencesText(differences)) << std::flush;
        }
        return differences.empty() ? DiffSame : DiffDifferent;
    } catch (const std::exception& e) {
        err << e.what() << "\n";
        return DiffTrouble;
    }
}
