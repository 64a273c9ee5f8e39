#include "settings/Settings.h"

#include "base/Errors.h"
#include "base/Messages.h"
#include "base/Xmlutil.h"
#include "modbus/Registerdatastore.h"
#include "settings/Group.h"
#include "settings/Setting.h"
#include "settings/Setting_dropdown.h"
#include "settings/Setting_name.h"

#include <cstring>
#include <stdexcept>

namespace {

// The view shows that a copy runs, and that it ended also when it fails.
class TBusy {
public:
    explicit TBusy(TTreeView* view) : FView(view) {
        if (FView != nullptr)
            FView->ShowBusy(true);
    }
    ~TBusy() {
        if (FView != nullptr)
            FView->ShowBusy(false);
    }
    TBusy(const TBusy&) = delete;
    TBusy& operator=(const TBusy&) = delete;

private:
    TTreeView* FView;
};

} // namespace

TSettings::TSettings(TDevice* device, TRegisterDataStore& store) : Device(device), FStore(store) {}

TSettings::~TSettings() {
    if (View != nullptr)
        View->Forget(*this);
}

TGroup* TSettings::NewGroup() {
    Groups.push_back(std::make_unique<TGroup>(this));
    return Groups.back().get();
}

void TSettings::LoadFromXml(const pugi::xml_node& settingsElement) {
    for (pugi::xml_node child : settingsElement.children()) {
        if (std::strcmp(child.name(), "group") != 0)
            continue;
        try {
            AddGroupFromXml(child);
        } catch (TModelError& error) {
            XmlPlaceError(error, child);
            throw;
        }
    }
}

void TSettings::AddGroupFromXml(const pugi::xml_node& groupElement) {
    TGroup* group = NewGroup();
    if (!group->IsTemplateNode(groupElement)) {
        group->LoadFromXml(groupElement);
        return;
    }
    // A template becomes four controllers, each a template group and five groups of ten copies.
    for (int32_t controller = 1; controller <= 4; ++controller) {
        TGroup* templateGroup = controller == 1 ? group : NewGroup();
        templateGroup->IsTemplate = true;
        templateGroup->LoadFromXml(groupElement);
        templateGroup->Controller = controller;
        templateGroup->Name = "ZA9 " + std::to_string(controller);
        templateGroup->Description = "Group Template";
        for (int32_t k = 0; k < 5; ++k) {
            TGroup* tens = NewGroup();
            tens->TenGroups = true;
            tens->Controller = controller;
            tens->FirstGroupNumber = 10 * k + 1;
            tens->LoadFromXml(groupElement);
            tens->Name = "Groups " + std::to_string(10 * k + 1) + " to " + std::to_string(10 * k + 10);
            tens->Description = "Groups on ZA9 " + std::to_string(controller);
        }
    }
}

void TSettings::ClearGroupList() {
    if (View != nullptr)
        View->ClearGroupList(*this);
}

void TSettings::SelectFirstGroup() {
    if (!Groups.empty())
        Groups[0]->Select();
}

void TSettings::SetEnabled(bool enabled) {
    Enabled = enabled;
    for (auto& group : Groups)
        group->SetEnabled(enabled);
}

void TSettings::SetCurrentUnits(const std::string& text) {
    CurrentUnits = text;
    for (auto& group : Groups)
        group->UpdateDisplay();
}

void TSettings::RegisterWithStore() {
    for (auto& group : Groups)
        group->RegisterWithStore();
}

void TSettings::ClearPending() {
    for (auto& group : Groups)
        group->ClearPending();
}

TSetting* TSettings::NextSetting() {
    if (FPollCursor.Group >= Groups.size()) {
        FPollCursor.Group = 0;
        return nullptr;
    }
    TGroup& group = *Groups[FPollCursor.Group];
    if (FPollCursor.Entry >= group.Settings.size()) {
        ++FPollCursor.Group;
        FPollCursor.Entry = 0;
        return nullptr;
    }
    return group.Settings[FPollCursor.Entry++].get();
}

void TSettings::PollNext(int32_t address, MbusMasterFunctions* protocol) {
    TSetting* setting = NextSetting();
    if (setting == nullptr)
        return;
    PolledSetting = setting;
    setting->Service(address, protocol);
}

void TSettings::RefreshPolled() {
    if (PolledSetting != nullptr)
        PolledSetting->ReportProgress();
}

bool TSettings::HasPolledReport() const {
    return PolledSetting != nullptr && (PolledSetting->ProgressPending || PolledSetting->DisplayPending);
}

void TSettings::TakeValuesFromStore() {
    // Without this a save or export after a read would hold stale values for every group the
    // user never opened, and writing such a file back would wipe the unit.
    ReadWarnings.clear();
    TStoreLock lock(Store().Lock());
    for (auto& group : Groups) {
        for (auto& entry : group->Settings) {
            // The unit's choice of units, which no later showing of a page reads again.
            if (auto* selector = dynamic_cast<TSettingDropDown*>(entry.get());
                selector && selector->IsUnitsSelector)
                selector->MarkForUnitRead();
        }
        group->RefreshFromStore();
        for (auto& entry : group->Settings) {
            if (auto* name = dynamic_cast<TSettingName*>(entry.get()); name && !name->ReadWarning.empty())
                ReadWarnings.push_back(name->ReadWarning);
        }
    }
    for (auto& group : Groups) {
        for (auto& entry : group->Settings) {
            if (auto* selector = dynamic_cast<TSettingDropDown*>(entry.get());
                selector && selector->IsUnitsSelector)
                selector->FollowUnits();
        }
    }
}

TSetting* TSettings::FindSetting(const std::string& name) const {
    for (const auto& group : Groups) {
        if (TSetting* found = group->FindSetting(name))
            return found;
    }
    throw TModelError("Could not find setting with name '" + name +
                      "'.\nThe most likely cause is a problem in the devices.xml file");
}

bool TSettings::CheckExclusion(const TSetting* setting, int32_t value, bool showMessage) const {
    if (value == setting->ExcludeAllowed)
        return true;
    bool allowed = true;
    for (const auto& group : Groups) {
        if (!group->IsValueFree(setting, value)) {
            allowed = false;
            break;
        }
    }
    if (!allowed && showMessage) {
        ShowError("This setting is mutually exclusive and can not share the same value\nas the following "
                  "settings:\n\n" +
                  ExclusionPeers(setting) + "\nPlease choose another value that is not being used.");
    }
    return allowed;
}

std::string TSettings::ExclusionPeers(const TSetting* setting) const {
    std::string peers;
    for (const auto& group : Groups)
        peers += group->ExclusionPeers(setting);
    return peers;
}

namespace {
TGroup* GroupAt(const std::vector<std::unique_ptr<TGroup>>& groups, int32_t position) {
    if (position < 0 || position >= static_cast<int32_t>(groups.size()))
        throw std::out_of_range("List index out of bounds (" + std::to_string(position) + ")");
    return groups[static_cast<size_t>(position)].get();
}
} // namespace

void TSettings::CopyToAllGroups(TSetting* setting, TGroup* group) {
    TBusy busy(View);
    TStoreLock lock(Store().Lock());
    // With one ordinary group before the template, controller c's ten-copy groups stand at
    // positions 6c - 4 to 6c.
    const int32_t controller = group->Controller;
    for (int32_t position = 6 * controller - 4; position <= 6 * controller; ++position)
        GroupAt(Groups, position)->CopyToRange(setting);
}

void TSettings::CopyToAllControllers(TSetting* setting) {
    TBusy busy(View);
    TStoreLock lock(Store().Lock());
    for (size_t position = 1; position < Groups.size(); ++position)
        Groups[position]->CopyToRange(setting);
}

size_t TSettings::EntryCount() const {
    size_t count = 0;
    for (const auto& group : Groups)
        count += group->Settings.size();
    return count;
}
