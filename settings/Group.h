#pragma once
// One group of a settings tree: its entries in display order. The window shows its button in the
// groups list and, while it is selected, its page.
#include "settings/Settingview.h"

#include <cstdint>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

class TCsvWriter;
class TSettings;
class TSetting;

class TGroup {
public:
    explicit TGroup(TSettings* owner);
    ~TGroup();
    TGroup(const TGroup&) = delete;
    TGroup& operator=(const TGroup&) = delete;

    // Building.
    bool IsTemplateNode(const pugi::xml_node& element);
    void LoadFromXml(const pugi::xml_node& element);
    void AddSettingFromXml(const pugi::xml_node& element, int32_t copyIndex);
    void AddSetting(std::unique_ptr<TSetting> entry);

    // Reads the entries from a completed image, gives them the tree's editing state and has the
    // tree's view show the page.
    void Select();
    // Shows `Marked` on the group's button, if it is shown.
    void ShowMark();

    void SetEnabled(bool enabled);
    void UpdateDisplay();
    void ClearPending();
    void RegisterWithStore();
    // Every entry takes its value from the register image again and shows it.
    void RefreshFromStore();

    TSetting* FindSetting(const std::string& name) const;
    bool IsValueFree(const TSetting* setting, int32_t value) const;
    std::string ExclusionPeers(const TSetting* setting) const;
    void CopyToRange(TSetting* setting);
    // The entry at a position; raises std::out_of_range outside the group.
    TSetting* EntryAt(int32_t position) const;

    // Settings files, exports and defaults.
    void SaveToXml(pugi::xml_node& deviceElement);
    void LoadFromSettingsXml(const pugi::xml_node& deviceElement);
    void ExportCsv(TCsvWriter& csv);
    void RestoreDefaults();

    std::string Name;
    std::string Description;
    bool TenGroups = false;
    int32_t Controller = 0;
    int32_t FirstGroupNumber = 1;
    bool IsTemplate = false;
    TSettings* Owner;
    int32_t Id = 0;
    std::vector<std::unique_ptr<TSetting>> Settings;
    int32_t SettingCount = 0;
    // Some entry of the group is marked as changed.
    bool Marked = false;
    // The group's button in the groups list; set and cleared by the window.
    TGroupView* View = nullptr;
};
