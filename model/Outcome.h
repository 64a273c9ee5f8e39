#pragma once
// How a run on one unit ended, in the words the commissioning report and the write record share:
// one list, so that a report and the record can be read side by side.
#include <optional>
#include <string_view>

class TRegisterDataStore;

enum class TOutcome {
    Verified,    // written, read back equal, save command answered
    Unchanged,   // the unit already held the settings; nothing sent
    WouldChange, // a dry run found differences; nothing sent
    Mismatch,    // read back differs from what was sent
    Unconfirmed, // written, but the save command got no answer or nothing was read back
    Failed,      // the line failed during the run
    WrongDevice, // the unit is of another device type
    NoUnit,      // no unit answered
    Stopped,     // stopped by the engineer; no commit after a partial write
    Saved,       // nothing differed; the save command an earlier run owed was sent and answered
};

const char* OutcomeWord(TOutcome outcome);
std::optional<TOutcome> OutcomeFromWord(std::string_view word);

// The outcome of the store's last write run.
TOutcome WriteOutcome(const TRegisterDataStore& store);
