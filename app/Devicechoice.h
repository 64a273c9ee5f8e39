#pragma once
// The device types of the definition file as a drop-down's choices.
class QComboBox;
class TDevices;

// Replaces the drop-down's items with the device names, so an item's position is the
// catalogue position.
void FillDeviceList(const TDevices& devices, QComboBox* comboBox);
