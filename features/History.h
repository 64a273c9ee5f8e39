#pragma once
// The write record: every write run that sends anything leaves one line in a JSON Lines file
// of the user's data folder, saying who changed what on which unit and whether it held, and a
// settings file of what the unit held before, which undoes the change when loaded.
#include "features/Compare.h"

#include <cstdint>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

class TDevice;
class TRegisterDataStore;
enum class TCommitFate : int32_t;

// One changed setting of a run, as the window shows its values (units applied).
struct THistoryChange {
    std::string Group;
    std::string Setting;
    std::string Before; // what the unit had confirmed
    std::string After;  // what was sent
    std::string Held;   // what the read-back found; empty when nothing was read back
};

// One write run.
struct THistoryEntry {
    std::string Time; // UTC, ISO 8601
    std::string User;
    std::string Host;
    std::string Version;
    std::string Port;
    int32_t Address = 0;
    int32_t DeviceId = 0;
    std::string DeviceType;
    std::string SettingsFile; // the settings file loaded, if any
    std::string SettingsSha256;
    std::string Result; // an outcome word
    // What became of the run's save command: "answered", "unanswered" or "not sent"; empty in
    // entries written before the record said so.
    std::string Commit;
    int32_t Sent = 0; // coils and registers sent
    std::string Backup;
    std::vector<THistoryChange> Changes;
};

// $XDG_DATA_HOME/dezadizi (default ~/.local/share/dezadizi), its history.jsonl and backups/.
std::string HistoryFolder();
std::string HistoryPath();

// One compact JSON object without a line break, and back; FromJson returns false for a line
// that is not a record.
std::string HistoryEntryJson(const THistoryEntry& entry);
bool HistoryEntryFromJson(const std::string& line, THistoryEntry& entry);

// Appends `entry` as one line with a single write to a file opened for appending, so that
// several processes recording at once never interleave their lines. Returns a warning, or "".
std::string AppendHistoryEntry(const std::string& path, const THistoryEntry& entry);

// Records one write run. Made just before the run starts, it takes what the unit holds and
// what is to be sent and saves the backup; Finish, once the run has ended, appends the entry.
// Neither ever raises: whatever cannot be done is a warning, and the write goes on regardless.
class TWriteRecord {
public:
    // `root`: the definition document's element from which the device's tree was built.
    // `settingsFile`: the settings file loaded into the tree, or empty.
    TWriteRecord(const TDevice& device, const pugi::xml_node& root, const TRegisterDataStore& store,
                 const std::string& port, int32_t address, const std::string& settingsFile);
    ~TWriteRecord();
    TWriteRecord(const TWriteRecord&) = delete;
    TWriteRecord& operator=(const TWriteRecord&) = delete;

    // Why the backup could not be saved, or "".
    const std::string& Warning() const { return FWarning; }
    // Appends the entry when the run sent anything (and drops the backup when it did not).
    // Returns why the entry could not be written, or "".
    std::string Finish(const TRegisterDataStore& store);
    // The entry as Finish would write it now.
    const THistoryEntry& Entry() const { return FEntry; }

private:
    const TDevice& FDevice;
    std::unique_ptr<TScratchTree> FScratch;
    std::vector<TDifference> FRows;
    THistoryEntry FEntry;
    std::string FWarning;
};

// The word an entry holds for a commit's fate.
const char* CommitFateWord(TCommitFate fate);

// Whether the unit's last run that sent anything (by port as given, address and device id)
// left values the unit was never told to save: it sent values and its commit went unanswered
// or was never sent, and no run since had a commit answered.
bool UnitOwesCommit(const std::vector<THistoryEntry>& entries, const std::string& port, int32_t address,
                    int32_t deviceId);
// The same, read from the record at `path`. A record that cannot be read owes nothing; why
// goes to `warning`.
bool RecordSaysCommitOwed(const std::string& path, const std::string& port, int32_t address, int32_t deviceId,
                          std::string& warning);

// What may select entries; empty fields select everything.
struct THistoryFilter {
    std::string Port;
    std::string Device; // a device type's name (any letter case), its id, or id:N
    std::string Since;  // YYYY-MM-DD (UTC) or an ISO 8601 time
};

// Raises with the message to show when `filter.Since` is not a date or time.
void CheckHistoryFilter(const THistoryFilter& filter);
bool HistoryMatches(const THistoryEntry& entry, const THistoryFilter& filter);

struct THistory {
    std::vector<THistoryEntry> Entries; // in file order: oldest first
    std::vector<std::string> Warnings;  // one per line skipped
};

// Reads the record; a missing file is an empty record. A line that is not a complete record
// (the last one, torn by a killed program, or any other) is skipped with a warning.
THistory ReadHistory(const std::string& path, const THistoryFilter& filter = {});

// The unit as a port is named on the command line: PORT, or PORT@ADDR away from address 1.
std::string HistoryUnitName(const THistoryEntry& entry);
// One line per changed setting: "time  port  device  group / setting: before → after  result".
std::string HistoryText(const std::vector<THistoryEntry>& entries);
// The same, one row per changed setting with every field, through the product's CSV writer.
std::string HistoryCsv(const std::vector<THistoryEntry>& entries);
// A self-contained page to hand over with the job: the units touched and, per unit, the
// settings each run changed with their results.
std::string HistoryReport(const std::vector<THistoryEntry>& entries);
