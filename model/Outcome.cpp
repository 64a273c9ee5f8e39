#include "model/Outcome.h"

#include "modbus/Registerdatastore.h"

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<TOutcome, const char*>, 10> Words{{
    {TOutcome::Verified, "verified"},
    {TOutcome::Unchanged, "unchanged"},
    {TOutcome::WouldChange, "would-change"},
    {TOutcome::Mismatch, "mismatch"},
    {TOutcome::Unconfirmed, "unconfirmed"},
    {TOutcome::Failed, "failed"},
    {TOutcome::WrongDevice, "wrong-device"},
    {TOutcome::NoUnit, "no-unit"},
    {TOutcome::Stopped, "stopped"},
    {TOutcome::Saved, "saved"},
}};

} // namespace

const char* OutcomeWord(TOutcome outcome) {
    for (const auto& [value, word] : Words) {
        if (value == outcome)
            return word;
    }
    return "failed";
}

std::optional<TOutcome> OutcomeFromWord(std::string_view word) {
    for (const auto& [value, text] : Words) {
        if (word == text)
            return value;
    }
    return std::nullopt;
}

TOutcome WriteOutcome(const TRegisterDataStore& store) {
    switch (store.LastResult()) {
    case TRunResult::Unchanged:
        return TOutcome::Unchanged;
    case TRunResult::Stopped:
        return TOutcome::Stopped;
    case TRunResult::Completed:
        if (!store.Differences().empty())
            return TOutcome::Mismatch;
        // Only the commit an earlier run owed went out: nothing was there to read back.
        if (store.SendCount() == 0)
            return store.LastCommit() == TCommitFate::Answered ? TOutcome::Saved : TOutcome::Unconfirmed;
        // Without an answered commit, or without a read-back, nobody knows the unit keeps it.
        return store.Verified() && store.CommitNote().empty() ? TOutcome::Verified : TOutcome::Unconfirmed;
    default:
        return TOutcome::Failed;
    }
}
