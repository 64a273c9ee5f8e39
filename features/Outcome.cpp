#include "features/Outcome.h"

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

TCliExit OutcomeExitStatus(TOutcome outcome) {
    switch (outcome) {
    case TOutcome::Verified:
    case TOutcome::Unchanged:
    case TOutcome::WouldChange:
    case TOutcome::Saved:
        return cliOk;
    case TOutcome::Unconfirmed:
        return cliUnconfirmed;
    case TOutcome::Stopped:
        return cliStopped;
    default:
        return cliFailed;
    }
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

TRunEnd RunEnd(TOutcome outcome, std::string message) {
    TRunEnd end;
    end.Outcome = outcome;
    end.Message = std::move(message);
    end.ExitStatus = OutcomeExitStatus(outcome);
    switch (end.ExitStatus) {
    case cliOk:
        end.Kind = TMessageKind::Information;
        break;
    case cliUnconfirmed:
    case cliStopped:
        // Not what was asked, yet nothing went wrong on the line: the unit may hold the settings.
        end.Kind = TMessageKind::Warning;
        break;
    default:
        end.Kind = TMessageKind::Error;
        break;
    }
    return end;
}

TRunEnd WriteRunEnd(const TRegisterDataStore& store, const TWriteFacts& facts) {
    const TOutcome outcome = WriteOutcome(store);
    switch (outcome) {
    case TOutcome::Unchanged:
        return RunEnd(outcome, TRegisterDataStore::UnchangedText);
    case TOutcome::Stopped:
        return RunEnd(outcome, TRegisterDataStore::WriteStoppedText(store.SentCount(), store.SendCount()));
    case TOutcome::Mismatch: {
        std::string lines;
        for (const std::string& line : facts.Differences)
            lines += (lines.empty() ? "" : "\n") + line;
        TRunEnd end = RunEnd(outcome, lines);
        end.Differences = facts.Differences;
        return end;
    }
    case TOutcome::Saved:
        return RunEnd(outcome, TRegisterDataStore::OwedCommitText);
    case TOutcome::Verified: {
        TRunEnd end = RunEnd(outcome, "Settings written and verified (" + std::to_string(facts.Changed) +
                                          " settings).");
        end.Changed = facts.Changed;
        return end;
    }
    case TOutcome::Unconfirmed:
        break;
    default:
        return RunEnd(outcome, "");
    }
    if (!store.CommitNote().empty()) {
        TRunEnd end = RunEnd(outcome, store.SendCount() == 0 ? TRegisterDataStore::OwedCommitText
                                                             : "Settings written successfully.");
        end.Note = store.CommitNote();
        return end;
    }
    if (!store.VerifyNote().empty())
        return RunEnd(outcome, "Settings written; the unit did not answer the read-back, so they are not "
                               "verified: " +
                                   store.VerifyNote() + ".");
    if (!facts.Verify) {
        // The engineer chose to go without the read-back: the answered save command is the end.
        TRunEnd end = RunEnd(outcome, "Settings written successfully.");
        end.ExitStatus = cliOk;
        end.Kind = TMessageKind::Information;
        return end;
    }
    return RunEnd(outcome, "Settings written; the read-back was stopped, so they are not verified.");
}
