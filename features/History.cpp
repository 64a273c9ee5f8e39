#include "features/History.h"

#include "Version.h"
#include "base/Csv.h"
#include "base/Errors.h"
#include "base/Regularfile.h"
#include "features/Outcome.h"
#include "modbus/Porttarget.h"
#include "modbus/Registerdatastore.h"
#include "settings/Device.h"
#include "settings/Group.h"
#include "settings/Setting.h"
#include "settings/Settings.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSysInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string UserName() {
    const QString fromEnvironment = qEnvironmentVariable("USER");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment.toStdString();
    const passwd* entry = ::getpwuid(::getuid());
    return entry != nullptr ? std::string(entry->pw_name) : std::string();
}

// The most of the record read: years of work on many sites stay far below it.
constexpr uint64_t MaxRecordSize = uint64_t{256} << 20;

// What to do with a record that is no regular file.
const char* const MoveAside = "Move it aside; the next write starts a new record.";

// The unit as commissioning names one of many: always with its address.
std::string UnitWithAddress(const THistoryEntry& entry) {
    return entry.Port + "@" + std::to_string(entry.Address);
}

std::string FileSha256(const std::string& path) {
    try {
        const std::string content = ReadRegularFile(path);
        return QCryptographicHash::hash(
                   QByteArrayView(content.data(), static_cast<qsizetype>(content.size())),
                   QCryptographicHash::Sha256)
            .toHex()
            .toStdString();
    } catch (const TModelError&) {
        return {};
    }
}

// Copies what the unit confirmed into `own`, a scratch tree's store of the same registrations;
// where the unit confirmed nothing the image's value stands in, so the backup stays complete.
void CopyConfirmed(const TRegisterDataStore& unit, TRegisterDataStore& own) {
    for (int32_t a = 0; a <= TRegisterDataStore::MaxAddress; ++a) {
        if (own.HasCoil(a) && unit.HasCoil(a)) {
            bool value = unit.GetCoil(a);
            unit.ConfirmedCoil(a, value);
            own.SetCoil(a, value);
        }
        if (own.HasHoldingRegister(a) && unit.HasHoldingRegister(a)) {
            int16_t value = 0;
            unit.GetHoldingRegisters(a, &value, 1);
            unit.ConfirmedRegister(a, value);
            own.SetHoldingRegister(a, value);
        }
    }
}

// The image: after a verified run it holds what the read-back found (the verification puts
// into it what the unit holds where that differs from what was sent).
void CopyImage(const TRegisterDataStore& unit, TRegisterDataStore& own) {
    for (int32_t a = 0; a <= TRegisterDataStore::MaxAddress; ++a) {
        if (own.HasCoil(a) && unit.HasCoil(a))
            own.SetCoil(a, unit.GetCoil(a));
        if (own.HasHoldingRegister(a) && unit.HasHoldingRegister(a)) {
            int16_t value = 0;
            unit.GetHoldingRegisters(a, &value, 1);
            own.SetHoldingRegister(a, value);
        }
    }
}

// A file name part from a port: "COM3" stays, "/dev/ttyUSB0" becomes "dev-ttyUSB0".
std::string PortForFileName(const std::string& port) {
    QString text = Q(port);
    text.replace(QRegularExpression("[^A-Za-z0-9_.]+"), "-");
    while (text.startsWith('-'))
        text.remove(0, 1);
    return text.isEmpty() ? std::string("port") : text.toStdString();
}

// Writes `content` to a new file in `folder` named from `stem`, never over an existing one.
// Returns the path, or raises with the reason.
std::string SaveNewFile(const QString& folder, const QString& stem, const std::string& content) {
    if (!QDir().mkpath(folder))
        throw TModelError("the folder cannot be created");
    for (int n = 1;; ++n) {
        const QString path =
            QDir(folder).filePath(stem + (n == 1 ? QString() : QStringLiteral("-%1").arg(n)) + ".RUR");
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (file.write(content.data(), static_cast<qint64>(content.size())) !=
                    static_cast<qint64>(content.size()) ||
                !file.flush()) {
                const std::string reason = file.errorString().toStdString();
                file.remove();
                throw TModelError(reason);
            }
            return path.toStdString();
        }
        if (!file.exists() || n >= 1000)
            throw TModelError(file.errorString().toStdString());
    }
}

// The start of `since`: a date is midnight UTC of that day; a time without a zone is local.
QDateTime SinceTime(const std::string& since) {
    const QDate date = QDate::fromString(Q(since), Qt::ISODate);
    if (date.isValid() && since.size() == 10)
        return QDateTime(date, QTime(0, 0), Qt::UTC);
    return QDateTime::fromString(Q(since), Qt::ISODate);
}

// The units touched, each with its entries, in the order first met.
struct TUnitEntries {
    const THistoryEntry* First;
    std::vector<const THistoryEntry*> Entries;
};

std::vector<TUnitEntries> ByUnit(const std::vector<THistoryEntry>& entries) {
    std::vector<TUnitEntries> units;
    for (const THistoryEntry& entry : entries) {
        auto same = [&entry](const TUnitEntries& unit) {
            return unit.First->Port == entry.Port && unit.First->Address == entry.Address &&
                   unit.First->DeviceId == entry.DeviceId && unit.First->DeviceType == entry.DeviceType;
        };
        auto found = std::find_if(units.begin(), units.end(), same);
        if (found == units.end())
            units.push_back({&entry, {&entry}});
        else
            found->Entries.push_back(&entry);
    }
    return units;
}

// Whether the run sent a coil or register of the row's setting.
bool SettingSent(const TSettings& tree, const TDifference& row, const TRegisterDataStore& store) {
    const TSetting& setting = *tree.Groups.at(static_cast<size_t>(row.GroupIndex))
                                   ->Settings.at(static_cast<size_t>(row.EntryIndex));
    if (setting.RegisterType == rtCoil) {
        const auto& sent = store.SentCoils();
        return std::find(sent.begin(), sent.end(), setting.Register) != sent.end();
    }
    return std::any_of(store.SentRegisters().begin(), store.SentRegisters().end(), [&setting](int32_t a) {
        return a >= setting.Register && a < setting.Register + setting.RegisterSpan();
    });
}

} // namespace

const char* CommitFateWord(TCommitFate fate) {
    switch (fate) {
    case TCommitFate::Answered:
        return "answered";
    case TCommitFate::Unanswered:
        return "unanswered";
    default:
        return "not sent";
    }
}

bool UnitOwesCommit(const std::vector<THistoryEntry>& entries, const std::string& port, int32_t address,
                    int32_t deviceId) {
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if (entry->Port != port || entry->Address != address || entry->DeviceId != deviceId)
            continue;
        // An entry that does not say what became of its commit tells nothing either way.
        if (entry->Commit == "answered")
            return false;
        if (!entry->Commit.empty() && entry->Sent > 0)
            return true;
    }
    return false;
}

bool RecordSaysCommitOwed(const std::string& path, const std::string& port, int32_t address, int32_t deviceId,
                          std::string& warning) {
    try {
        return UnitOwesCommit(ReadHistory(path).Entries, port, address, deviceId);
    } catch (const std::exception& e) {
        warning = e.what();
        return false;
    }
}

std::string HistoryFolder() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath("dezadizi")
        .toStdString();
}

std::string HistoryPath() {
    return QDir(Q(HistoryFolder())).filePath("history.jsonl").toStdString();
}

std::string HistoryEntryJson(const THistoryEntry& entry) {
    QJsonArray changes;
    for (const THistoryChange& change : entry.Changes) {
        QJsonObject item{{"group", Q(change.Group)},
                         {"setting", Q(change.Setting)},
                         {"before", Q(change.Before)},
                         {"after", Q(change.After)}};
        if (!change.Held.empty())
            item.insert("held", Q(change.Held));
        changes.append(item);
    }
    QJsonObject object{{"time", Q(entry.Time)},      {"user", Q(entry.User)},
                       {"host", Q(entry.Host)},      {"version", Q(entry.Version)},
                       {"port", Q(entry.Port)},      {"address", entry.Address},
                       {"deviceId", entry.DeviceId}, {"deviceType", Q(entry.DeviceType)},
                       {"result", Q(entry.Result)},  {"backup", Q(entry.Backup)},
                       {"changes", changes}};
    if (!entry.Commit.empty()) {
        object.insert("commit", Q(entry.Commit));
        object.insert("sent", entry.Sent);
    }
    object.insert("settingsFile", entry.SettingsFile.empty()
                                      ? QJsonValue()
                                      : QJsonValue(QJsonObject{{"path", Q(entry.SettingsFile)},
                                                               {"sha256", Q(entry.SettingsSha256)}}));
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

bool HistoryEntryFromJson(const std::string& line, THistoryEntry& entry) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject object = document.object();
    if (!object.value("time").isString() || !object.value("result").isString() ||
        !object.value("changes").isArray())
        return false;
    const auto text = [](const QJsonObject& o, const char* key) {
        return o.value(key).toString().toStdString();
    };
    entry = {};
    entry.Time = text(object, "time");
    entry.User = text(object, "user");
    entry.Host = text(object, "host");
    entry.Version = text(object, "version");
    entry.Port = text(object, "port");
    entry.Address = object.value("address").toInt();
    entry.DeviceId = object.value("deviceId").toInt();
    entry.DeviceType = text(object, "deviceType");
    entry.Result = text(object, "result");
    entry.Backup = text(object, "backup");
    entry.Commit = text(object, "commit");
    entry.Sent = object.value("sent").toInt();
    const QJsonObject file = object.value("settingsFile").toObject();
    entry.SettingsFile = text(file, "path");
    entry.SettingsSha256 = text(file, "sha256");
    for (const QJsonValue& value : object.value("changes").toArray()) {
        const QJsonObject change = value.toObject();
        entry.Changes.push_back({text(change, "group"), text(change, "setting"), text(change, "before"),
                                 text(change, "after"), text(change, "held")});
    }
    return true;
}

std::string AppendHistoryEntry(const std::string& path, const THistoryEntry& entry) {
    std::string line = HistoryEntryJson(entry) + "\n";
    const auto failure = [&](const std::string& reason) {
        return UnitWithAddress(entry) + ": cannot record the write in \"" + path + "\": " + reason;
    };
    if (!QDir().mkpath(QFileInfo(Q(path)).absolutePath()))
        return failure("its folder cannot be created");
    // Never through a link at the record's own name: the entry would land in some other file.
    std::string reason;
    const int fd = OpenRegularFile(path, O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW, reason);
    if (fd < 0)
        return failure(reason.rfind("It is ", 0) == 0 ? reason + " " + MoveAside : reason);
    // A last line left without its end (a killed program, an editor) would swallow this one.
    struct stat status {};
    char last = '\n';
    if (::fstat(fd, &status) == 0 && status.st_size > 0 && ::pread(fd, &last, 1, status.st_size - 1) == 1 &&
        last != '\n')
        line.insert(0, 1, '\n');
    // One write of the whole line: appends of other processes land before or after it.
    const ssize_t written = ::write(fd, line.data(), line.size());
    const int writeError = errno;
    ::close(fd);
    if (written != static_cast<ssize_t>(line.size()))
        return failure(written < 0 ? std::strerror(writeError) : "the line was written only in part");
    return {};
}

TWriteRecord::TWriteRecord(const TDevice& device, const pugi::xml_node& root, const TRegisterDataStore& store,
                           const std::string& port, int32_t address, const std::string& settingsFile)
    : FDevice(device) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    FEntry.Time = now.toString(Qt::ISODate).toStdString();
    FEntry.User = UserName();
    FEntry.Host = QSysInfo::machineHostName().toStdString();
    FEntry.Version = DezVersion;
    FEntry.Port = port;
    FEntry.Address = address;
    FEntry.DeviceId = device.DeviceId;
    FEntry.DeviceType = device.Name;
    if (!settingsFile.empty()) {
        FEntry.SettingsFile = QFileInfo(Q(settingsFile)).absoluteFilePath().toStdString();
        FEntry.SettingsSha256 = FileSha256(settingsFile);
    }
    const QString folder = QDir(Q(HistoryFolder())).filePath("backups");
    std::string backup;
    try {
        FScratch = std::make_unique<TScratchTree>(*device.Settings, root);
        TSnapshot before;
        TSnapshot after;
        {
            TStoreLock lock(store.Lock()); // a polling worker may be using the image and the tree
            before = FScratch->Values([&store](TRegisterDataStore& own) { CopyConfirmed(store, own); },
                                      device.Settings->CurrentUnits);
            after = TakeSnapshot(*device.Settings);
        }
        for (TDifference& row : CompareSnapshots(*device.Settings, before, after)) {
            // The units selector is never written: its choice changes only how values read.
            if (!row.UnitsSelector)
                FRows.push_back(std::move(row));
        }
        if (FRows.empty() && !store.CommitOwed())
            return; // nothing differs: the backup would only repeat the unit's last state
        backup = FScratch->SaveToText();
        const QString stem = now.toString("yyyyMMdd-HHmmss") + "Z-" + Q(PortForFileName(port)) +
                             QStringLiteral("-%1").arg(::getpid());
        FEntry.Backup = SaveNewFile(folder, stem, backup);
    } catch (const std::exception& e) {
        FWarning = UnitWithAddress(FEntry) + ": cannot save the unit's settings before writing in \"" +
                   folder.toStdString() + "\": " + e.what();
    }
}

TWriteRecord::~TWriteRecord() = default;

std::string TWriteRecord::Finish(const TRegisterDataStore& store) {
    // A run that found nothing to send leaves the counts of the run before it (the read).
    const bool sent = store.LastResult() != TRunResult::Unchanged &&
                      (store.LastResult() == TRunResult::Completed || store.SentCount() > 0);
    if (!sent) {
        if (!FEntry.Backup.empty())
            QFile::remove(Q(FEntry.Backup));
        FEntry.Backup.clear();
        return {};
    }
    FEntry.Result = OutcomeWord(WriteOutcome(store));
    FEntry.Commit = CommitFateWord(store.LastCommit());
    FEntry.Sent = store.SentCount();
    try {
        std::map<std::pair<int32_t, int32_t>, std::string> held;
        if (FScratch && store.Verified()) {
            TStoreLock lock(store.Lock());
            for (const TSnapshotEntry& e :
                 FScratch
                     ->Values([&store](TRegisterDataStore& own) { CopyImage(store, own); },
                              FDevice.Settings->CurrentUnits)
                     .Entries)
                held[{e.GroupIndex, e.EntryIndex}] = e.Text;
        }
        FEntry.Changes.clear();
        // A run cut short lists what it sent, not all it meant to send.
        const bool whole = store.LastResult() == TRunResult::Completed;
        for (const TDifference& row : FRows) {
            if (!whole && !SettingSent(*FDevice.Settings, row, store))
                continue;
            const auto found = held.find({row.GroupIndex, row.EntryIndex});
            FEntry.Changes.push_back(
                {row.Group, row.Setting, row.A, row.B, found != held.end() ? found->second : std::string()});
        }
    } catch (const std::exception& e) {
        return UnitWithAddress(FEntry) + ": cannot record the write in \"" + HistoryPath() +
               "\": " + e.what();
    }
    return AppendHistoryEntry(HistoryPath(), FEntry);
}

void CheckHistoryFilter(const THistoryFilter& filter) {
    if (!filter.Since.empty() && !SinceTime(filter.Since).isValid())
        throw TModelError("Not a date: " + filter.Since + " (use YYYY-MM-DD or an ISO 8601 time)");
}

bool HistoryMatches(const THistoryEntry& entry, const THistoryFilter& filter) {
    // PORT selects every unit on the line, PORT@ADDR the one unit.
    // A filter that is no port target (the command line refuses one with an address) is taken as
    // it is, and selects the records of a port spelt so.
    if (!filter.Port.empty()) {
        const auto target = ParsePortTarget(filter.Port);
        const std::string port = target ? target->name : filter.Port;
        if (Q(port).compare(Q(entry.Port), Qt::CaseInsensitive) != 0 ||
            (target && target->addressGiven && target->address != entry.Address))
            return false;
    }
    if (!filter.Device.empty()) {
        QString device = Q(filter.Device);
        bool number = false;
        const int id = (device.startsWith("id:") ? device.mid(3) : device).toInt(&number);
        if (!(number && id == entry.DeviceId) &&
            device.compare(Q(entry.DeviceType), Qt::CaseInsensitive) != 0)
            return false;
    }
    if (!filter.Since.empty()) {
        const QDateTime time = QDateTime::fromString(Q(entry.Time), Qt::ISODate);
        if (!time.isValid() || time < SinceTime(filter.Since))
            return false;
    }
    return true;
}

THistory ReadHistory(const std::string& path, const THistoryFilter& filter) {
    THistory history;
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 && errno == ENOENT)
        return history;
    const QList<QByteArray> lines =
        QByteArray::fromStdString(ReadRegularFile(path, MaxRecordSize, "the write record", false, MoveAside))
            .split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        if (line.trimmed().isEmpty())
            continue;
        THistoryEntry entry;
        if (!HistoryEntryFromJson(line.toStdString(), entry)) {
            // The last line without its line break is one a killed program left unfinished.
            const bool torn = i == lines.size() - 1;
            history.Warnings.push_back("Skipped line " + std::to_string(i + 1) + " of \"" + path +
                                       "\": " + (torn ? "an unfinished record" : "not a record"));
            continue;
        }
        if (HistoryMatches(entry, filter))
            history.Entries.push_back(std::move(entry));
    }
    return history;
}

std::string HistoryUnitName(const THistoryEntry& entry) {
    // Address 1 is the default everywhere a port is named, so it is left out as there.
    return entry.Address == 1 ? entry.Port : entry.Port + "@" + std::to_string(entry.Address);
}

std::string HistoryText(const std::vector<THistoryEntry>& entries) {
    std::string text;
    for (const THistoryEntry& entry : entries) {
        const std::string head = entry.Time + "  " + HistoryUnitName(entry) + "  " + entry.DeviceType + "  ";
        if (entry.Changes.empty())
            text += head + "(no setting changed)  " + entry.Result + "\n";
        for (const THistoryChange& change : entry.Changes) {
            text += head + change.Group + " / " + change.Setting + ": " + change.Before + " \u2192 " +
                    change.After;
            if (!change.Held.empty() && change.Held != change.After)
                text += " (unit holds " + change.Held + ")";
            text += "  " + entry.Result + "\n";
        }
    }
    return text;
}

std::string HistoryCsv(const std::vector<THistoryEntry>& entries) {
    TCsvWriter csv;
    csv.AddRow({"Time", "User", "Host", "Version", "Port", "Address", "Device ID", "Device", "Settings File",
                "SHA-256", "Result", "Backup", "Group", "Setting", "Before", "After", "Unit Holds"});
    for (const THistoryEntry& entry : entries) {
        const std::vector<std::string> head{
            CsvSafeText(entry.Time),           CsvSafeText(entry.User),       CsvSafeText(entry.Host),
            CsvSafeText(entry.Version),        CsvSafeText(entry.Port),       std::to_string(entry.Address),
            std::to_string(entry.DeviceId),    CsvSafeText(entry.DeviceType), CsvSafeText(entry.SettingsFile),
            CsvSafeText(entry.SettingsSha256), CsvSafeText(entry.Result),     CsvSafeText(entry.Backup)};
        std::vector<THistoryChange> changes = entry.Changes;
        if (changes.empty())
            changes.push_back({});
        for (const THistoryChange& change : changes) {
            std::vector<std::string> row = head;
            for (const std::string* field :
                 {&change.Group, &change.Setting, &change.Before, &change.After, &change.Held})
                row.push_back(CsvSafeText(*field));
            csv.AddRow(row);
        }
    }
    return csv.Text();
}

std::string HistoryReport(const std::vector<THistoryEntry>& entries) {
    const auto e = [](const std::string& text) { return Q(text).toHtmlEscaped(); };
    QString html;
    html += "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n<head>\n"
            "<meta charset=\"utf-8\"/>\n<title>Commissioning record</title>\n<style>\n"
            "@page { size: A4; margin: 15mm; }\n"
            "body { font-family: sans-serif; font-size: 10pt; color: #000; }\n"
            "h1 { font-size: 16pt; } h2 { font-size: 13pt; margin-top: 18pt; } h3 { font-size: 11pt; }\n"
            "h2, h3 { page-break-after: avoid; }\n"
            "table { border-collapse: collapse; width: 100%; margin-bottom: 8pt; }\n"
            "th, td { border: 0.5pt solid #888; padding: 2pt 4pt; text-align: left; vertical-align: top; }\n"
            "th { background: #eee; } tr { page-break-inside: avoid; }\n"
            ".result { font-weight: bold; } .differs { color: #a00; font-weight: bold; }\n"
            ".small { font-size: 8pt; color: #444; word-break: break-all; }\n"
            "</style>\n</head>\n<body>\n<h1>Commissioning record</h1>\n";
    const std::vector<TUnitEntries> units = ByUnit(entries);
    html += QStringLiteral("<p>%1 write runs on %2 units, made %3 with version %4.</p>\n")
                .arg(entries.size())
                .arg(units.size())
                .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toHtmlEscaped(), e(DezVersion));
    html += "<h2>Units</h2>\n<table>\n<tr><th>Device</th><th>Port</th><th>Address</th><th>Runs</th>"
            "<th>Last result</th></tr>\n";
    for (const TUnitEntries& unit : units) {
        html += QStringLiteral(
                    "<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td class=\"result\">%5</td></tr>\n")
                    .arg(e(unit.First->DeviceType), e(unit.First->Port), QString::number(unit.First->Address),
                         QString::number(unit.Entries.size()), e(unit.Entries.back()->Result));
    }
    html += "</table>\n";
    for (const TUnitEntries& unit : units) {
        html +=
            QStringLiteral("<h2>%1 on %2, address %3</h2>\n")
                .arg(e(unit.First->DeviceType), e(unit.First->Port), QString::number(unit.First->Address));
        for (const THistoryEntry* entry : unit.Entries) {
            html +=
                QStringLiteral(
                    "<h3>%1: <span class=\"result\">%2</span></h3>\n<p class=\"small\">By %3 on %4, "
                    "version %5.")
                    .arg(e(entry->Time), e(entry->Result), e(entry->User), e(entry->Host), e(entry->Version));
            if (!entry->SettingsFile.empty())
                html += QStringLiteral(" Settings file %1 (SHA-256 %2).")
                            .arg(e(entry->SettingsFile), e(entry->SettingsSha256));
            if (!entry->Backup.empty())
                html += QStringLiteral(" Loading %1 undoes the change.").arg(e(entry->Backup));
            html += "</p>\n";
            if (entry->Changes.empty()) {
                html += "<p>No setting changed.</p>\n";
                continue;
            }
            html += "<table>\n<tr><th>Group</th><th>Setting</th><th>Before</th><th>After</th>"
                    "<th>Unit holds</th></tr>\n";
            for (const THistoryChange& change : entry->Changes) {
                const bool differs = !change.Held.empty() && change.Held != change.After;
                html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td%5>%6</td></tr>\n")
                            .arg(e(change.Group), e(change.Setting), e(change.Before), e(change.After),
                                 differs ? QStringLiteral(" class=\"differs\"") : QString(), e(change.Held));
            }
            html += "</table>\n";
        }
    }
    html += "</body>\n</html>\n";
    return html.toStdString();
}
