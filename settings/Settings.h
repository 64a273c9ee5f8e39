#pragma once
// The settings tree of one device type: its groups in display order, built once from the
// definition file, with the worker's poll cycle, lookups, copies between group copies, settings
// files, exports and defaults. The window shows its groups list and pages through `View`.
#include "settings/Settingview.h"
#include "settings/Snapshot.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

class MbusMasterFunctions;
class TDevice;
class TGroup;
class TSetting;
class TRegisterDataStore;

// Progress report of a setting: (sender, text, error flag, number of items just done).
using TSettingsProgressEvent =
    std::function<void(void* sender, const std::string& text, bool errorFlag, int32_t increment)>;

// What a settings file may do beyond a plain load; each needs the user's word.
struct TLoadOptions {
    // Match groups and settings by their names (the k-th of equal names) instead of their
    // numbers: for a file saved with other definitions.
    bool ByName = false;
    // Load values that lie outside their settings' limits.
    bool AllowOutOfRange = false;
};

class TSettings {
public:
    // The tree reads and writes its values in `store`, which outlives it.
    TSettings(TDevice* device, TRegisterDataStore& store);
    ~TSettings();
    TSettings(const TSettings&) = delete;
    TSettings& operator=(const TSettings&) = delete;

    // The register image the settings read and write.
    TRegisterDataStore& Store() const { return FStore; }

    // Building.
    void LoadFromXml(const pugi::xml_node& settingsElement);
    void AddGroupFromXml(const pugi::xml_node& groupElement);

    // Groups list: the view drops the tree's list; the first group is selected.
    void ClearGroupList();
    void SelectFirstGroup();

    void SetEnabled(bool enabled);
    void SetCurrentUnits(const std::string& text);
    void RegisterWithStore();
    void ClearPending();

    // Poll cycle: PollNext on the worker thread, RefreshPolled on the user-interface thread.
    void PollNext(int32_t address, MbusMasterFunctions* protocol);
    void RefreshPolled();
    // Whether the setting PollNext serviced last has a report or display update due.
    bool HasPolledReport() const;
    // After a read run: every setting of every group takes its value from the store, then the
    // units selector sets the tree's units (user-interface thread).
    void TakeValuesFromStore();
    TSetting* NextSetting();

    // Lookups.
    TSetting* FindSetting(const std::string& name) const;
    bool CheckExclusion(const TSetting* setting, int32_t value, bool showMessage) const;
    std::string ExclusionPeers(const TSetting* setting) const;

    // Copies of a template setting into its group copies.
    void CopyToAllGroups(TSetting* setting, TGroup* group);
    void CopyToAllControllers(TSetting* setting);

    // Settings files, exports and defaults (Settingsfile.cpp).
    void SaveToFile(const std::string& path) const;
    // Loads all of the file or nothing. Raises TOtherDefinitionsError where the file's numbers
    // and names disagree (unless by name) and TOutOfLimitsError for values outside their limits
    // (unless allowed); a value its register cannot hold is always refused.
    void LoadFromFile(const std::string& path, const TLoadOptions& options = {});
    void ExportCsv(const std::string& path) const;
    // The text SaveToFile and ExportCsv write, for writers other than a file.
    std::string SaveToText() const;
    std::string ExportCsvText() const;
    void RestoreDefaults();

    // Number of entries of every group.
    size_t EntryCount() const;

    // Marks of changed settings. The baseline is what the values are measured against: what
    // the unit holds (`fromUnit`: the units selector, never written, is then never marked), or
    // the state of the last file opened, loaded or saved. An empty baseline marks nothing.
    void SetBaseline(TSnapshot baseline, bool fromUnit);
    // Marks every entry whose value differs from the baseline, and its group, and shows them.
    void UpdateMarks();
    // The number of marked settings.
    size_t MarkedCount() const;
    // Puts the settings of `rows` back to what the unit confirmed: their coils and registers
    // (a shared register only in their own bits) in the tree's store's image, their values
    // and editors; then marks again. A row the unit confirmed nothing for stays as it is.
    void PutBackToUnit(const std::vector<TDifference>& rows);
    TSnapshot Baseline;
    bool BaselineFromUnit = false;
    // Called after the engineer changed a value through an editor or a copy button.
    std::function<void()> OnEdited;

    TSettingsProgressEvent OnProgress;
    // What LoadFromFile changed to apply the file (one line each), cleared by every load.
    std::vector<std::string> LoadWarnings;
    // What TakeValuesFromStore changed to show the unit's values (one line each), cleared by it.
    std::vector<std::string> ReadWarnings;
    // Where the window shows the tree's groups list and pages; set and cleared by the window.
    TTreeView* View = nullptr;
    std::vector<std::unique_ptr<TGroup>> Groups;
    std::string CurrentUnits;
    TDevice* Device;
    TSetting* PolledSetting = nullptr;
    // Whether editors accept input; Select gives a shown group's entries this state.
    bool Enabled = true;
    // The numbers the next group and the next setting built take. A catalogue counts on from
    // one device type's tree to the next, so one definition file always numbers alike.
    int32_t NextGroupId = 0;
    int32_t NextSettingId = 0;

private:
    TRegisterDataStore& FStore;
    TGroup* NewGroup();

    // Where the worker's poll cycle stands in this tree; only the worker moves it.
    struct TPollCursor {
        size_t Group = 0;
        size_t Entry = 0;
    };
    TPollCursor FPollCursor;
};
