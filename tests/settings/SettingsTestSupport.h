#pragma once
// Builds settings trees from definition text and gives them a register image of their own.
#include "base/Errors.h"
#include "modbus/MbusMasterFunctions.h"
#include "modbus/Registerdatastore.h"
#include "settings/Device.h"
#include "settings/Group.h"
#include "settings/Setting.h"
#include "settings/Settings.h"

#include <QString>
#include <gtest/gtest.h>
#include <memory>
#include <string>

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

// A device type built from `settingsXml` (the settings element) over a store of its own;
// offline editing state: registered, defaults restored. Its groups and settings are numbered
// from the given first numbers on, as a catalogue numbers a tree after the ones before it.
class TTestTree {
public:
    explicit TTestTree(const std::string& settingsXml, bool openOffline = true,
                       const std::string& name = "Test Unit", int32_t deviceId = 17, int32_t firstGroupId = 0,
                       int32_t firstSettingId = 0)
        : FirstGroupId(firstGroupId), FirstSettingId(firstSettingId) {
        Device.Name = name;
        Device.DeviceId = deviceId;
        Tree().NextGroupId = firstGroupId;
        Tree().NextSettingId = firstSettingId;
        const pugi::xml_parse_result parsed = FDocument.load_string(settingsXml.c_str());
        EXPECT_TRUE(parsed) << parsed.description();
        Device.Settings->LoadFromXml(FDocument.document_element());
        if (openOffline)
            Open();
    }
    TTestTree(const TTestTree&) = delete;
    TTestTree& operator=(const TTestTree&) = delete;

    // As offline editing starts: an emptied store, registrations, defaults.
    void Open() {
        Store.Reset();
        Tree().RegisterWithStore();
        Tree().RestoreDefaults();
    }

    TSettings& Tree() { return *Device.Settings; }
    TGroup& Group(size_t position) { return *Tree().Groups.at(position); }
    TSetting& Entry(size_t group, size_t entry) { return *Group(group).Settings.at(entry); }
    template <class T> T& As(const std::string& name) {
        T* setting = dynamic_cast<T*>(Tree().FindSetting(name));
        EXPECT_NE(setting, nullptr) << name;
        return *setting;
    }

    uint16_t Register(int32_t fileRegister) {
        int16_t value = 0;
        Store.GetHoldingRegisters(fileRegister + 1, &value, 1);
        return static_cast<uint16_t>(value);
    }
    void SetRegister(int32_t fileRegister, uint16_t value) {
        Store.SetHoldingRegister(fileRegister + 1, static_cast<int16_t>(value));
    }
    bool Coil(int32_t fileRegister) { return Store.GetCoil(fileRegister + 1); }

    // Reads one setting from the image as a shown group does.
    static void Read(TSetting& setting) {
        setting.MarkForRead();
        setting.ReadFromStore();
    }

    TRegisterDataStore Store;
    TDevice Device{Store};
    int32_t FirstGroupId = 0;
    int32_t FirstSettingId = 0;

private:
    pugi::xml_document FDocument;
};

// The message text of the exception `call` raises, or "" when it raises none.
template <class F> std::string ErrorOf(F&& call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}
