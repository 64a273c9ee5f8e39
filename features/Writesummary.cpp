// What a write run's end means for the engineer, by setting rather than by register.
#include "features/Writesummary.h"

#include "features/Outcome.h"
#include "modbus/Registerdatastore.h"
#include "settings/Group.h"
#include "settings/Setting.h"
#include "settings/Settings.h"

#include <algorithm>
#include <set>

namespace {

bool Covers(const TSetting& setting, bool coil, int32_t address) {
    if (setting.InTemplate || setting.DisplayOnly())
        return false;
    if (coil)
        return setting.RegisterType == rtCoil && setting.Register == address;
    return setting.RegisterType == rtHoldingRegister && address >= setting.Register &&
           address < setting.Register + setting.RegisterSpan();
}

// The settings that own any of these coils or registers, in tree order.
std::vector<TSetting*> Owners(const TSettings& settings,
                              const std::vector<std::pair<bool, int32_t>>& addresses) {
    std::vector<TSetting*> owners;
    for (const auto& group : settings.Groups) {
        for (const auto& setting : group->Settings) {
            if (std::any_of(addresses.begin(), addresses.end(),
                            [&setting](const auto& a) { return Covers(*setting, a.first, a.second); }))
                owners.push_back(setting.get());
        }
    }
    return owners;
}

std::string ShownFromStore(TSetting* setting) {
    setting->ReadPending = true;
    setting->ReadFromStore();
    return setting->ShownValue();
}

// The settings a write changed: owners of what it sent whose own value the unit did not hold
// before (a setting sharing a register with a changed one is not counted). Call under the lock.
size_t ChangedOwners(const TSettings& settings, const TRegisterDataStore& store) {
    std::vector<std::pair<bool, int32_t>> addresses;
    for (const TSentValue& v : store.SentValues())
        addresses.emplace_back(v.Coil, v.Address);
    const std::vector<TSetting*> owners = Owners(settings, addresses);
    TRegisterDataStore& image = settings.Store();
    // The image holds what was sent; the values before stand in for it while the owners read.
    std::vector<int16_t> sent;
    for (const TSentValue& v : store.SentValues()) {
        int16_t value = 0;
        if (v.Coil)
            value = image.GetCoil(v.Address) ? 1 : 0;
        else
            image.GetHoldingRegisters(v.Address, &value, 1);
        sent.push_back(value);
    }
    const auto put = [&](bool before) {
        for (size_t i = 0; i < sent.size(); ++i) {
            const TSentValue& v = store.SentValues()[i];
            const int16_t value = before && v.Known ? v.Before : sent[i];
            if (v.Coil)
                image.SetCoil(v.Address, value != 0);
            else
                image.SetHoldingRegister(v.Address, value);
        }
    };
    std::vector<std::string> beforeTexts;
    put(true);
    for (TSetting* setting : owners)
        beforeTexts.push_back(ShownFromStore(setting));
    put(false);
    size_t changed = 0;
    for (size_t i = 0; i < owners.size(); ++i) {
        // Read back in any case: the owner's value must be the one sent again.
        const bool differs = ShownFromStore(owners[i]) != beforeTexts[i];
        // Where the unit had confirmed nothing, the value sent is a change whatever it reads as.
        const bool unknown =
            std::any_of(store.SentValues().begin(), store.SentValues().end(), [&](const TSentValue& v) {
                return !v.Known && Covers(*owners[i], v.Coil, v.Address);
            });
        if (differs || unknown)
            ++changed;
    }
    return changed;
}

} // namespace

TRunEnd DescribeWrite(TSettings& tree, const TRegisterDataStore& store, bool verify) {
    TWriteFacts facts;
    facts.Verify = verify;
    const TOutcome outcome = WriteOutcome(store);
    // Only these two are told by setting.
    if (outcome != TOutcome::Mismatch && outcome != TOutcome::Verified)
        return WriteRunEnd(store, facts);
    TStoreLock lock(tree.Store().Lock());
    if (outcome == TOutcome::Mismatch) {
        // Each owner's value as sent, then as held: the image holds what the unit holds.
        std::vector<std::pair<bool, int32_t>> addresses;
        for (const TVerifyDifference& d : store.Differences())
            addresses.emplace_back(d.Coil, d.Address);
        const std::vector<TSetting*> owners = Owners(tree, addresses);
        TRegisterDataStore& image = tree.Store();
        const auto put = [&image, &store](bool sent) {
            for (const TVerifyDifference& d : store.Differences()) {
                if (d.Coil)
                    image.SetCoil(d.Address, (sent ? d.Sent : d.Held) != 0);
                else
                    image.SetHoldingRegister(d.Address, sent ? d.Sent : d.Held);
            }
        };
        std::vector<std::string> sentTexts;
        put(true);
        for (TSetting* setting : owners)
            sentTexts.push_back(ShownFromStore(setting));
        put(false);
        for (size_t i = 0; i < owners.size(); ++i) {
            const std::string held = ShownFromStore(owners[i]);
            // A setting sharing the register whose own field came back as sent is not named.
            if (held == sentTexts[i])
                continue;
            facts.Differences.push_back(owners[i]->Group->Name + " / " + owners[i]->Name + ": sent " +
                                        sentTexts[i] + ", unit holds " + held);
        }
        if (facts.Differences.empty()) {
            for (const TVerifyDifference& d : store.Differences())
                facts.Differences.push_back((d.Coil ? "Coil " : "Holding register ") +
                                            std::to_string(d.Address) + ": sent " + std::to_string(d.Sent) +
                                            ", unit holds " + std::to_string(d.Held));
        }
        return WriteRunEnd(store, facts);
    }
    facts.Changed = ChangedOwners(tree, store);
    return WriteRunEnd(store, facts);
}
