#pragma once
// One group of a settings tree: its entries in display order, its button in the groups list and,
// while it is shown, its page in the settings area.
#include <QPointer>
#include <cstdint>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QScrollArea;
class QWidget;
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

    // Groups list and page.
    void CreateButton(QScrollArea* parent, int32_t position);
    std::string PaddedCaption() const;
    void Select();
    void Show(QScrollArea* area);
    void Hide();
    void FocusButton();
    // Shows `Marked` on the group button: a dot before the caption and bold type.
    void ShowMark();
    void DestroyButton();

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
    QPointer<QPushButton> Button;
    QPointer<QLabel> TitleLabel;
    QPointer<QLabel> DescriptionLabel;
    QPointer<QLabel> TrailerLabel;
    int32_t SettingCount = 0;
    // Some entry of the group is marked as changed.
    bool Marked = false;

private:
    // The widget of a scroll area on which controls are placed (made when it has none).
    static QWidget* Content(QScrollArea* area);
};

// Makes a scroll area's widget large enough to show every control placed on it.
void FitContent(QScrollArea* area);
