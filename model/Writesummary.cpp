// What a write run's end means for the engineer, by setting rather than by register.
#include "modbus/Registerdatastore.h"
#include "model/Group.h"
#include "model/Settings.h"
#include "settings/Setting.h"
#include "settings/Storeaccess.h"

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

} // namespace

TWriteSummary TSettings::DescribeWrite(const TRegisterDataStore& store) {
    TWriteSummary summary;
    switch (store.LastResult()) {
    case TRunResult::Unchanged:
        summary.Message = TRegisterDataStore::UnchangedText;
        return summary;
    case TRunResult::Stopped:
        summary.Message = TRegisterDataStore::WriteStoppedText(store.SentCount(), store.SendCount());
        return summary;
    case TRunResult::Completed:
        break;
    default:
        summary.Error = true;
        return summary;
    }
    TSettingsLockGuard lock;
    if (!store.Differences().empty()) {
        // Each owner's value as sent, then as held: the image holds what the unit holds.
        std::vector<std::pair<bool, int32_t>> addresses;
        for (const TVerifyDifference& d : store.Differences())
            addresses.emplace_back(d.Coil, d.Address);
        const std::vector<TSetting*> owners = Owners(*this, addresses);
        TRegisterDataStore& image = RequireRegisterDataStore();
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
            summary.Differences.push_back(owners[i]->Group->Name + " / " + owners[i]->Name + ": sent " +
                                          sentTexts[i] + ", unit holds " + held);
        }
        if (summary.Differences.empty()) {
            for (const TVerifyDifference& d : store.Differences())
                summary.Differences.push_back((d.Coil ? "Coil " : "Holding register ") +
                                              std::to_string(d.Address) + ": sent " + std::to_string(d.Sent) +
                                              ", unit holds " + std::to_string(d.Held));
        }
        summary.Error = true;
        for (const std::string& line : summary.Differences)
            summary.Message += (summary.Message.empty() ? "" : "\n") + line;
        return summary;
    }
    if (store.SendCount() == 0) {
        // Nothing differed, but an earlier run had left values unsaved: only the commit went out.
        summary.Message = store.CommitNote().empty()
                              ? std::string(TRegisterDataStore::OwedCommitText)
                              : std::string(TRegisterDataStore::OwedCommitText) + "\n\n" + store.CommitNote();
        return summary;
    }
    std::string note = store.CommitNote();
    if (note.empty())
        note = store.VerifyNote();
    if (store.Verified() && note.empty()) {
        std::vector<std::pair<bool, int32_t>> addresses;
        for (int32_t a : store.SentCoils())
            addresses.emplace_back(true, a);
        for (int32_t a : store.SentRegisters())
            addresses.emplace_back(false, a);
        summary.Message = "Settings written and verified (" +
                          std::to_string(Owners(*this, addresses).size()) + " settings).";
        return summary;
    }
    summary.Message = note.empty() ? std::string("Settings written successfully.")
                                   : "Settings written successfully.\n\n" + note;
    return summary;
}
