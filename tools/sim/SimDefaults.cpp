#include "SimDefaults.h"

#include "SimUnit.h"
#include "modbus/Registerdatastore.h"
#include "settings/Device.h"
#include "settings/Settings.h"

#include <exception>

bool LoadFactoryDefaults(TSimUnit& unit, TDevice& device, std::string* error) {
    // The tree writes its defaults into its own store, which serves nothing else.
    TRegisterDataStore& store = device.Settings->Store();
    bool ok = true;
    try {
        store.Reset();
        device.Settings->RegisterWithStore();
        device.Settings->RestoreDefaults();
        // The store counts from reference 1; the unit holds wire addresses.
        for (int32_t number = 1; number <= TSimUnit::ObjectCount; ++number) {
            if (store.HasCoil(number))
                unit.SetCoil(number - 1, store.GetCoil(number));
            if (store.HasHoldingRegister(number)) {
                int16_t value = 0;
                store.GetHoldingRegisters(number, &value, 1);
                unit.SetHoldingRegister(number - 1, static_cast<uint16_t>(value));
            }
        }
    } catch (const std::exception& e) {
        if (error != nullptr)
            *error = e.what();
        ok = false;
    }
    return ok;
}
