#pragma once
// How a run on one unit ended, in the words the commissioning report and the write record share:
// one list, so that a report and the record can be read side by side. What a run came to is
// decided here once, for the window, the command-line tool and the record alike.
#include "base/Messages.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TRegisterDataStore;

enum class TOutcome {
    Verified,    // written, read back equal, save command answered
    Unchanged,   // the unit already held the settings; nothing sent
    WouldChange, // a dry run found differences; nothing sent
    Mismatch,    // read back differs from what was sent
    Unconfirmed, // written, not confirmed: the save command or the read-back went unanswered
    Failed,      // the line failed during the run
    WrongDevice, // the unit is of another device type
    NoUnit,      // no unit answered
    Stopped,     // stopped by the engineer; no commit after a partial write
    Saved,       // nothing differed; the save command an earlier run owed was sent and answered
};

// Exit codes of the command-line tool.
// cliUnconfirmed: the settings were written but not confirmed: the unit did not answer the save
// command, or did not answer the read-back.
// cliStopped: stopped by Ctrl-C (SIGINT), as a shell counts a run ended by it. SIGTERM and SIGHUP
// stop a run the same way with 128 + their number (143, 129): return StopExitStatus() for a stop.
enum TCliExit : int { cliOk = 0, cliFailed = 1, cliUsage = 2, cliUnconfirmed = 3, cliStopped = 130 };

const char* OutcomeWord(TOutcome outcome);
std::optional<TOutcome> OutcomeFromWord(std::string_view word);
// The command-line tool's exit status for a unit that came to `outcome`.
TCliExit OutcomeExitStatus(TOutcome outcome);

// The outcome of the store's last write run.
TOutcome WriteOutcome(const TRegisterDataStore& store);

// What a run came to, and how it is told.
struct TRunEnd {
    TOutcome Outcome = TOutcome::Failed;
    // The headline: the command line prints it alone (on standard output when not an error).
    std::string Message;
    // Said beside the headline: after a blank line in the window, on standard error by the tool.
    std::string Note;
    // A mismatch: one line per setting the unit holds otherwise (the message holds them too).
    std::vector<std::string> Differences;
    // A verified write: the settings it changed, as the message counts them.
    size_t Changed = 0;
    TCliExit ExitStatus = cliFailed;
    // The box the window shows it in: only what went as asked is information.
    TMessageKind Kind = TMessageKind::Error;

    std::string Text() const { return Note.empty() ? Message : Message + "\n\n" + Note; }
};

// A run that came to `outcome` without a write run to describe (no unit, another device type, a
// failure, a stop, a dry run), told as `message`.
TRunEnd RunEnd(TOutcome outcome, std::string message);

// What the window and the tool know of a write run beyond the store.
struct TWriteFacts {
    // The settings a mismatch concerns, one line each, by name.
    std::vector<std::string> Differences;
    // How many settings a verified write changed.
    size_t Changed = 0;
    // Whether a read-back was asked for; without one an answered save command is all there is.
    bool Verify = true;
};

// What the store's last write run came to.
TRunEnd WriteRunEnd(const TRegisterDataStore& store, const TWriteFacts& facts);
