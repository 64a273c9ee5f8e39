#include "definitions/Devices.h"
#include "base/Errors.h"
#include "base/Xmlutil.h"
#include "modbus/Registerdatastore.h"
#include "settings/Group.h"
#include "settings/Setting.h"
#include "settings/Setting_int.h"
#include "settings/Settings.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

// Loads `xml` into a fresh catalogue; returns the error text, empty when the load succeeded.
std::string Load(TDevices& devices, const std::string& xml) {
    TTempDir dir;
    const std::string path = dir.Write("Devices.xml", xml);
    try {
        devices.LoadFromFile(path);
        return {};
    } catch (const std::exception& e) {
        return e.what();
    }
}

const char* const TwoTypes = R"(<?xml version="1.0"?>
<rur>
  <device name="AHU Interface" device_id="12" live_status_id="3" settings_id="1"/>
  <!-- a comment between elements is skipped -->
  <Device name="Ignored" device_id="99" live_status_id="0" settings_id="1"/>
  <device name="Fan Coil Interface" device_id="14" live_status_id="4" settings_id="2"/>
  <settings settings_id="2"/>
  <settings settings_id="1"/>
</rur>)";

} // namespace

TEST(DevicesLoad, ReadsDeviceTypesInDocumentOrderSkippingOtherNames) {
    TRegisterDataStore devicesStore;
    TDevices devices(devicesStore);
    ASSERT_EQ(Load(devices, TwoTypes), "");
    ASSERT_EQ(devices.Devices.size(), 2u);
    EXPECT_EQ(devices.Devices[0]->Name, "AHU Interface");
    EXPECT_EQ(devices.Devices[0]->DeviceId, 12);
    EXPECT_EQ(devices.Devices[0]->LiveStatusId, 3);
    EXPECT_EQ(devices.Devices[0]->SettingsId, 1);
    EXPECT_EQ(devices.Devices[1]->Name, "Fan Coil Interface");
    EXPECT_FALSE(devices.Devices[1]->Online);
    EXPECT_EQ(devices.Devices[1]->CommPort, 0);
}

TEST(DevicesLoad, DocumentProblems) {
    {
        TRegisterDataStore devicesStore;
        TDevices devices(devicesStore);
        EXPECT_EQ(Load(devices, "<rur/>"), "");
        EXPECT_TRUE(devices.Devices.empty());
    }
    {
        TRegisterDataStore devicesStore;
        TDevices devices(devicesStore);
        EXPECT_EQ(
            Load(devices, "<RUR><device name='a' device_id='1' live_status_id='0' settings_id='1'/></RUR>"),
            "Could not find parent tag: rur");
        EXPECT_TRUE(devices.Devices.empty());
    }
    {
        TRegisterDataStore devicesStore;
        TDevices devices(devicesStore);
        const std::string error = Load(devices, "<rur><device name='a'</rur>");
        EXPECT_NE(error.find("XML parse error"), std::string::npos) << error;
        EXPECT_TRUE(devices.Devices.empty());
    }
    {
        TRegisterDataStore devicesStore;
        TDevices devices(devicesStore);
        EXPECT_THROW(
            {
                try {
                    devices.LoadFromFile("/nonexistent/Devices.xml");
                } catch (const TModelError& e) {
                    EXPECT_STREQ(e.what(), "Could not find XML document : /nonexistent/Devices.xml");
                    throw;
                }
            },
            TModelError);
    }
}

TEST(DevicesLoad, SettingsLookupTakesTheFirstMatchWhereverItStands) {
    // The settings element after the device is found; of two with the same id the first is used
    // (the second has a group without description, which would fail if it were read).
    TRegisterDataStore devicesStore;
    TDevices devices(devicesStore);
    EXPECT_EQ(Load(devices, R"(<rur>
      <device name="a" device_id="1" live_status_id="0" settings_id="7"/>
      <settings settings_id="7"/>
      <settings settings_id="7"><group name="x"/></settings>
    </rur>)"),
              "");
    ASSERT_EQ(devices.Devices.size(), 1u);

    TRegisterDataStore missingStore;
    TDevices missing(missingStore);
    EXPECT_EQ(Load(missing, R"(<rur>
      <device name="a" device_id="1" live_status_id="0" settings_id="8"/>
      <settings settings_id="7"/>
    </rur>)"),
              "Could not find a settings node with id 8");
    EXPECT_EQ(missing.Devices.size(), 1u);
}

TEST(DevicesLoad, SettingsWithoutIdFailsOnlyWhenExamined) {
    TRegisterDataStore beforeStore;
    TDevices before(beforeStore);
    EXPECT_EQ(Load(before, R"(<rur>
      <device name="a" device_id="1" live_status_id="0" settings_id="7"/>
      <settings/>
      <settings settings_id="7"/>
    </rur>)"),
              "Could not find attribute \"settings_id\" in XML node.");

    TRegisterDataStore afterStore;
    TDevices after(afterStore);
    EXPECT_EQ(Load(after, R"(<rur>
      <device name="a" device_id="1" live_status_id="0" settings_id="7"/>
      <settings settings_id="7"/>
      <settings/>
    </rur>)"),
              "");
}

TEST(DevicesLoad, MissingDeviceAttributesInReadingOrder) {
    const struct {
        const char* attributes;
        const char* missing;
    } cases[] = {
        {R"(device_id="1" live_status_id="0" settings_id="1")", "name"},
        {R"(name="a" live_status_id="0" settings_id="1")", "device_id"},
        {R"(name="a" device_id="1" settings_id="1")", "live_status_id"},
        {R"(name="a" device_id="1" live_status_id="0")", "settings_id"},
        {R"(settings_id="1")", "name"},
    };
    for (const auto& c : cases) {
        TRegisterDataStore devicesStore;
        TDevices devices(devicesStore);
        const std::string xml =
            std::string("<rur><settings settings_id='1'/><device ") + c.attributes + "/></rur>";
        EXPECT_EQ(Load(devices, xml),
                  std::string("Could not find attribute \"") + c.missing + "\" in XML node.");
        // The device type is appended before it is read.
        EXPECT_EQ(devices.Devices.size(), 1u);
    }
}

TEST(DevicesLoad, ThirdDeviceWithoutSettingsIdKeepsTheFirstThree) {
    TRegisterDataStore devicesStore;
    TDevices devices(devicesStore);
    EXPECT_EQ(Load(devices, R"(<rur>
      <settings settings_id="1"/>
      <device name="a" device_id="1" live_status_id="0" settings_id="1"/>
      <device name="b" device_id="2" live_status_id="0" settings_id="1"/>
      <device name="c" device_id="3" live_status_id="0"/>
      <device name="d" device_id="4" live_status_id="0" settings_id="1"/>
    </rur>)"),
              "Could not find attribute \"settings_id\" in XML node.");
    ASSERT_EQ(devices.Devices.size(), 3u);
    EXPECT_EQ(devices.Devices[2]->Name, "c");
    EXPECT_NE(devices.Devices[2]->Settings, nullptr);
}

TEST(DevicesLoad, IntegerAttributesMustConvert) {
    for (const char* bad : {"twelve", "", "12a", "99999999999"}) {
        TRegisterDataStore devicesStore;
        TDevices devices(devicesStore);
        const std::string xml = std::string("<rur><settings settings_id='1'/><device name='a' device_id='") +
                                bad + "' live_status_id='0' settings_id='1'/></rur>";
        EXPECT_EQ(Load(devices, xml), std::string("'") + bad + "' is not a valid integer value");
    }
    TRegisterDataStore negativeStore;
    TDevices negative(negativeStore);
    EXPECT_EQ(Load(negative, "<rur><settings settings_id='-1'/>"
                             "<device name='a' device_id=' -5' live_status_id='0' settings_id='-1'/></rur>"),
              "");
    EXPECT_EQ(negative.Devices.at(0)->DeviceId, -5);
}

TEST(DevicesLookup, ByIdAndByIndex) {
    TRegisterDataStore devicesStore;
    TDevices devices(devicesStore);
    ASSERT_EQ(Load(devices, R"(<rur><settings settings_id="1"/>
      <device name="first" device_id="5" live_status_id="0" settings_id="1"/>
      <device name="second" device_id="5" live_status_id="0" settings_id="1"/>
      <device name="third" device_id="6" live_status_id="0" settings_id="1"/></rur>)"),
              "");
    EXPECT_EQ(devices.DeviceById(5)->Name, "first");
    EXPECT_EQ(devices.DeviceById(6)->Name, "third");
    try {
        devices.DeviceById(7);
        FAIL() << "no error";
    } catch (const TModelError& e) {
        EXPECT_STREQ(e.what(), "Could not find device with ID '7' in the XML device definitions list");
    }
    EXPECT_EQ(devices.DeviceByIndex(1)->Name, "second");
    EXPECT_THROW(devices.DeviceByIndex(-1), std::out_of_range);
    EXPECT_THROW(devices.DeviceByIndex(3), std::out_of_range);
    EXPECT_EQ(devices.Devices.size(), 3u);
}

TEST(XmlRoutines, FindChildTakesTheLastElementOfThatExactName) {
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string("<r><device n='1'/><!--x--><Device n='2'/><device n='3'/>text</r>"));
    const pugi::xml_node found = XmlFindChild(doc.document_element(), "device");
    ASSERT_TRUE(found);
    EXPECT_STREQ(found.attribute("n").value(), "3");
    EXPECT_FALSE(XmlFindChild(doc.document_element(), "settings"));
}

TEST(XmlRoutines, GetAttributeNamesTheMissingAttribute) {
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string("<r a='' Name='x'/>"));
    EXPECT_EQ(XmlGetAttribute(doc.document_element(), "a"), "");
    try {
        XmlGetAttribute(doc.document_element(), "name");
        FAIL() << "no error";
    } catch (const TModelError& e) {
        EXPECT_STREQ(e.what(), "Could not find attribute \"name\" in XML node.");
    }
}

TEST(BundledDefinitions, LoadsEveryDeviceType) {
    TRegisterDataStore devicesStore;
    TDevices devices(devicesStore);
    ASSERT_NO_THROW(devices.LoadFromFile(SourcePath("data/Devices.xml")));
    EXPECT_GE(devices.Devices.size(), 3u);
}

TEST(DevicesLoad, GroupWithoutDescriptionFailsWithTheAttributeMessage) {
    TRegisterDataStore devicesStore;
    TDevices devices(devicesStore);
    EXPECT_EQ(Load(devices, R"(<rur>
      <device name="a" device_id="1" live_status_id="0" settings_id="1"/>
      <settings settings_id="1"><group name="Unit"/></settings>
    </rur>)"),
              "Could not find attribute \"description\" in XML node.");
    ASSERT_EQ(devices.Devices.size(), 1u);
    // The group being built stays in the tree.
    EXPECT_EQ(devices.Devices[0]->Settings->Groups.size(), 1u);
}

TEST(DevicesLoad, EveryDeviceTypeNumbersItsOwnTreeInCatalogueOrder) {
    // Two device types naming one settings element: each builds its own tree, and the second
    // tree's groups and settings continue the numbers of the first.
    // A catalogue numbers from 0, as a fresh run of the program does.
    const int32_t firstGroup = 0;
    const int32_t firstSetting = 0;
    TRegisterDataStore devicesStore;
    TDevices devices(devicesStore);
    ASSERT_EQ(Load(devices, R"(<rur>
      <device name="a" device_id="1" live_status_id="0" settings_id="1"/>
      <device name="b" device_id="2" live_status_id="0" settings_id="1"/>
      <settings settings_id="1">
        <group name="One" description="d"><setting value_type="checkbox" name="x" register="0" type="coil" default="checked"/></group>
        <group name="Two" description="d"><setting value_type="checkbox" name="y" register="1" type="coil" default="checked"/></group>
      </settings>
    </rur>)"),
              "");
    ASSERT_EQ(devices.Devices.size(), 2u);
    const TSettings& second = *devices.Devices[1]->Settings;
    ASSERT_EQ(second.Groups.size(), 2u);
    EXPECT_EQ(devices.Devices[0]->Settings->Groups[0]->Id, firstGroup);
    EXPECT_EQ(second.Groups[0]->Id, firstGroup + 2);
    EXPECT_EQ(second.Groups[1]->Id, firstGroup + 3);
    EXPECT_EQ(second.Groups[1]->Settings[0]->Id, firstSetting + 3);
    EXPECT_NE(&second.Groups[0]->Settings[0], &devices.Devices[0]->Settings->Groups[0]->Settings[0]);
}

TEST(BundledDefinitions, EveryDeviceTypeBuildsItsTree) {
    TRegisterDataStore devicesStore;
    TDevices devices(devicesStore);
    ASSERT_NO_THROW(devices.LoadFromFile(SourcePath("data/Devices.xml")));
    for (const auto& device : devices.Devices) {
        const TSettings& tree = *device->Settings;
        EXPECT_FALSE(tree.Groups.empty()) << device->Name;
        EXPECT_GT(tree.EntryCount(), 0u) << device->Name;
    }
    // The AHU's template group became 24 groups after its unit group.
    EXPECT_EQ(devices.Devices.at(0)->Settings->Groups.size(), 25u);
}

TEST(BundledDefinitions, TwoUnitsOfOneTypeKeepImagesOfTheirOwnAndNumberAlike) {
    // Two catalogues in one process, each over its own store, as two units' images are held.
    TRegisterDataStore firstStore;
    TRegisterDataStore secondStore;
    TDevices first(firstStore);
    TDevices second(secondStore);
    first.LoadFromFile(SourcePath("data/Devices.xml"));
    second.LoadFromFile(SourcePath("data/Devices.xml"));
    TSettings& a = *first.Devices.at(0)->Settings;
    TSettings& b = *second.Devices.at(0)->Settings;
    for (auto [tree, store] : {std::pair{&a, &firstStore}, std::pair{&b, &secondStore}}) {
        store->Reset();
        tree->RegisterWithStore();
        tree->RestoreDefaults();
    }
    // The later catalogue numbers as the first did: both save the same file.
    const std::string defaults = a.SaveToText();
    EXPECT_EQ(b.SaveToText(), defaults);

    // A holding-register setting of the first unit changes; the second keeps its image.
    TSetting* changed = nullptr;
    for (const auto& group : a.Groups) {
        for (const auto& entry : group->Settings) {
            if (changed == nullptr && dynamic_cast<TSettingInt*>(entry.get()) != nullptr &&
                entry->RegisterType == rtHoldingRegister && entry->RegisterSpan() == 1 &&
                !entry->InTemplate && entry->BitMask == 0 && entry->MaxValue > entry->DefaultValue)
                changed = entry.get();
        }
    }
    ASSERT_NE(changed, nullptr);
    int16_t before = 0;
    secondStore.GetHoldingRegisters(changed->Register, &before, 1);
    changed->Value = changed->DefaultValue + 1;
    changed->WriteToStore();
    int16_t mine = 0;
    int16_t theirs = 0;
    firstStore.GetHoldingRegisters(changed->Register, &mine, 1);
    secondStore.GetHoldingRegisters(changed->Register, &theirs, 1);
    EXPECT_NE(mine, before) << changed->Name;
    EXPECT_EQ(theirs, before) << changed->Name;
    EXPECT_NE(a.SaveToText(), defaults);
    EXPECT_EQ(b.SaveToText(), defaults);
}
