#pragma once
// The common base of every entry of a group: a named value bound to one coil or holding
// register (or a bit field of it), its conversion to and from the register image, limit checks
// against other settings, the read protocol the worker thread drives, and the taking of what an
// engineer types or chooses. The editors that show it live in the window (app/).
#include "settings/Settingview.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <vector>

class TCsvWriter;
class TGroup;
class TSettings;
class MbusMasterFunctions;
class TRegisterDataStore;

enum TRegisterType : int32_t {
    rtNone = 0, // heading entries
    rtCoil = 1,
    rtDiscreteInput = 2,
    rtHoldingRegister = 3,
    rtInputRegister = 4
};

// A value read from a settings file before it is applied.
struct TLoadedValue {
    int32_t Value = 0;
    bool HasText = false; // text settings: the file carried their text
    std::string Text;
    std::string Warning; // what was changed to apply the value; empty when nothing was
};

// Text an engineer typed or read, taken back as a value.
struct TParsed {
    // The number the text names; also set when it lies outside the setting's limits.
    std::optional<int32_t> Value;
    // Text settings: the text itself.
    std::optional<std::string> Text;
    // Why an editor refuses the text, as it tells the engineer; empty when it is taken.
    std::string Error;
    bool Ok() const { return Error.empty(); }
};

class TSetting {
public:
    TSetting(TGroup* group, int32_t copyIndex);
    virtual ~TSetting();
    TSetting(const TSetting&) = delete;
    TSetting& operator=(const TSetting&) = delete;

    virtual void LoadFromXml(const pugi::xml_node& element);
    // Whether editors accept input; the shown editor follows.
    void SetEnabled(bool enabled);
    // Shows the value again in the shown editor, if any.
    void UpdateDisplay(bool withUnits);
    virtual void RestoreDefault();
    virtual void SaveToXml(pugi::xml_node& groupElement);
    // Finds this setting's element in a group element of a settings file and applies it.
    virtual void LoadFromSettingsXml(const pugi::xml_node& groupElement);
    virtual void MarkForRead();
    // Adds the setting's export line: its name and its value as text.
    virtual void AddCsvLine(TCsvWriter& csv);
    // The value as the export and the write summary show it: the display text, except where
    // the export keeps a shape of its own.
    virtual std::string ShownValue() { return Text(); }
    // A read-only display (a measured value, a version): never written by a change-only write.
    virtual bool DisplayOnly() const { return false; }
    // How many holding registers the value spans from Register.
    virtual int32_t RegisterSpan() const { return NumOfRegisters < 1 ? 1 : NumOfRegisters; }
    virtual void RegisterWithStore();
    virtual bool Service(int32_t address, MbusMasterFunctions* protocol);
    virtual void ReadFromStore();
    virtual void ReportProgress();
    virtual int32_t PendingCount();
    virtual double ComparableValue(int32_t value);
    virtual void CopyValueFrom(TSetting* source);
    virtual void WriteToStore();
    virtual TLoadedValue LoadValue(const pugi::xml_node& settingElement);
    // The value as the engineer reads it: units applied, choices by name, check boxes as the
    // export's words.
    std::string Text() const { return FormatText(); }
    // Typed or shown text back to a value: what Text() gives is always taken; an editor's refusal
    // comes with its message.
    TParsed Parse(const std::string& text) const { return ParseText(text); }
    // What the value puts into the unit's registers, word by word (a coil as 0 or 1, a masked
    // field as its own bits); empty for entries that never write, which are not compared.
    virtual std::vector<uint16_t> StoredWords() const;

    // The two halves of LoadFromSettingsXml, so a settings file can be checked completely
    // before anything is applied. FindLoadedValue raises the file's messages.
    TLoadedValue FindLoadedValue(const pugi::xml_node& groupElement);
    virtual void ApplyLoadedValue(const TLoadedValue& loaded);
    // Checks of a loaded value before anything is applied. FieldHolds: whether the register
    // field can hold it (16 or 32 bits, or the field of the bit mask, after scaling and offset).
    // LimitProblem: "" when it lies within the setting's limits as the editor checks typed
    // input, else the value and the limits as the editor shows them; `units` are the tree's
    // units once the file is applied.
    virtual bool FieldHolds(const TLoadedValue& loaded) const;
    virtual std::string LimitProblem(const TLoadedValue& loaded, const std::string& units) const;

    // Tells the tree that the engineer changed a value (an editor, a copy button).
    void NotifyEdited();
    // Shows `Marked` on the shown editor's caption.
    void ShowMark();

    // What an edit box shows of the value, with or without its units.
    virtual std::string DisplayText(bool withUnits) const {
        (void)withUnits;
        return FormatText();
    }
    // What an edit box shows when the engineer enters it.
    virtual std::string EntryText() const { return std::to_string(Value); }
    // Checks typed text as Enter does: shows the refusal, if any; true when it would be taken.
    bool ValidateText(const std::string& text);
    // Takes text typed into an edit box as the engineer leaves it. A refused text shows its
    // message and returns false (the box keeps the focus); a value outside the limits that other
    // settings set is refused with a message but the box is left; the value is shown again.
    virtual bool TakeText(const std::string& text);

    bool CheckLimitSettings(int32_t value);
    void ClearPending();
    static void SwapWords(uint32_t& value);
    void CopyToAllGroupsClick();
    void CopyToAllControllersClick();

    TSettings* Owner() const;
    // The register image of the tree the setting belongs to.
    TRegisterDataStore& Store() const;
    // The register as the definition file counts it (internal number minus 1).
    int32_t FileRegister() const { return static_cast<int32_t>(static_cast<uint32_t>(Register) - 1u); }

    int32_t Value = 0;
    int32_t MinValue = 0;
    int32_t MaxValue = 0;
    int32_t DefaultValue = 0;
    int32_t NumOfRegisters = 1;
    int32_t ExclusionGroup = -1;
    int32_t ExcludeAllowed = -1;
    std::string MinSetting;
    std::string MaxSetting;
    bool IsUnitsSelector = false;
    bool InTemplate = false;
    int32_t IndexInGroup = 0;
    int32_t Register = 0;
    TRegisterType RegisterType = rtNone;
    std::string Name;
    int32_t Id = 0;
    TGroup* Group;
    bool Enabled = true;
    int32_t CopyIndex;
    int32_t XOffset = 0;
    int32_t YOffset = 0;
    bool Bold = false;
    // The value differs from the tree's baseline (what the unit holds, or the last file state).
    bool Marked = false;
    bool ReadPending = false;
    bool ProgressPending = false;
    bool DisplayPending = false;
    std::string ProgressText;
    int32_t ValueOffset = 0;
    int16_t BitMask = 0;
    int32_t ScalingFactor = 1;
    // The editor showing the setting; set and cleared by the window.
    TSettingView* View = nullptr;

protected:
    // Text() and Parse() of each kind (a text setting holds a member named Text).
    virtual std::string FormatText() const;
    virtual TParsed ParseText(const std::string& text) const;
    // The register conversion of WriteToStore without its template and units-selector tests;
    // copies use it directly.
    virtual void PutToStore();
    // The base read conversion: coil bit, or the holding register through mask, offset and
    // scaling, as a signed 16-bit value. Input registers and headings read 0.
    int16_t ReadConverted() const;
    // The number the register conversion puts into the register for a value.
    int64_t StoredValue(int32_t value) const {
        return static_cast<int64_t>(value) * Scaling() + static_cast<int64_t>(ValueOffset);
    }
    // A scaling factor of 0 is not a valid definition; it converts as 1 instead of faulting.
    int32_t Scaling() const { return ScalingFactor == 0 ? 1 : ScalingFactor; }
    void MarkRead();
    TLoadedValue ReadValueAttribute(const pugi::xml_node& settingElement, const char* attribute) const;
};

// Runs an editor handler; an exception that leaves it is shown in the error box, as the
// application's standard exception display would.
void RunHandler(const std::function<void()>& handler);
// Shows the refusal of `parsed`, if any; true when the value is taken.
bool AcceptParsed(const TParsed& parsed);

// Reads an optional integer attribute; returns false when it is absent.
bool ReadOptionalInt(const pugi::xml_node& element, const char* name, int32_t& value);
int32_t ReadRequiredInt(const pugi::xml_node& element, const char* name);
