#pragma once
// A value chosen from named choices; takes part in mutual exclusion, and one drop-down of a
// tree can be the units selector whose chosen name sets the units of the tree.
#include "settings/Setting.h"

class TSettingDropDown : public TSetting {
public:
    // The units selector sets the tree's units to its chosen choice's name; others do nothing.
    void FollowUnits();
    struct _DDType {
        std::string Name;
        int32_t Value = 0;
    };

    TSettingDropDown(TGroup* group, int32_t copyIndex);
    ~TSettingDropDown() override;

    void LoadFromXml(const pugi::xml_node& element) override;
    void RestoreDefault() override;
    void ApplyLoadedValue(const TLoadedValue& loaded) override;
    std::string LimitProblem(const TLoadedValue& loaded, const std::string& units) const override;
    void ReportProgress() override;
    // The units selector's value is the engineer's choice of units, which its register does not
    // hold (the selector never writes it): showing or refreshing a page must not read it back.
    void MarkForRead() override;
    // Reads the units selector from the image too: after a read run, the unit's choice.
    void MarkForUnitRead();

    void AddChoice(const pugi::xml_node& element);
    // Position of the first choice holding `value`; -1 when no choice holds it.
    int IndexOfValue(int32_t value) const;
    // The engineer chose the choice at `position`: refused with a message when another setting
    // of its exclusion group holds that value (the editor shows the value again), else taken;
    // the units selector sets the tree's units instead of writing.
    void ChooseAt(int position);

    std::vector<_DDType> Choices;

protected:
    std::string FormatText() const override;
    // A choice by its name.
    TParsed ParseText(const std::string& text) const override;
};
