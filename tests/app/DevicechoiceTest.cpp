#include "app/Devicechoice.h"
#include "definitions/Devices.h"
#include "modbus/Registerdatastore.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <gtest/gtest.h>

TEST(DevicesLookup, FillComboBoxReplacesItems) {
    TTempDir dir;
    TRegisterDataStore store;
    TDevices devices(store);
    devices.LoadFromFile(dir.Write("Devices.xml", R"(<?xml version="1.0"?>
<rur>
  <device name="AHU Interface" device_id="12" live_status_id="3" settings_id="1"/>
  <!-- a comment between elements is skipped -->
  <Device name="Ignored" device_id="99" live_status_id="0" settings_id="1"/>
  <device name="Fan Coil Interface" device_id="14" live_status_id="4" settings_id="2"/>
  <settings settings_id="2"/>
  <settings settings_id="1"/>
</rur>)"));
    QComboBox combo;
    combo.addItem("stale 1");
    combo.addItem("stale 2");
    combo.addItem("stale 3");
    FillDeviceList(devices, &combo);
    ASSERT_EQ(combo.count(), 2);
    EXPECT_EQ(combo.itemText(0).toStdString(), "AHU Interface");
    EXPECT_EQ(combo.itemText(1).toStdString(), "Fan Coil Interface");
}
