#pragma once
// Helpers shared by the test programs.
#include "base/Messages.h"

#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <string>
#include <vector>

// Captures every message box while it lives; questions take the queued answers (Yes when none).
class TMessageCapture {
public:
    TMessageCapture();
    ~TMessageCapture();
    TMessageCapture(const TMessageCapture&) = delete;
    TMessageCapture& operator=(const TMessageCapture&) = delete;

    struct Message {
        TMessageKind kind;
        std::string text;
    };
    std::vector<Message> messages;
    std::deque<TAnswer> answers;

    std::vector<std::string> Texts() const;
    std::string Last() const { return messages.empty() ? std::string() : messages.back().text; }
    void Clear() { messages.clear(); }

private:
    TMessageHandler FPrevious;
};

// A temporary folder removed with its contents at the end of the test.
class TTempDir {
public:
    TTempDir();
    std::string Path(const std::string& name) const;
    std::string Write(const std::string& name, const std::string& content) const;

private:
    QTemporaryDir FDir;
};

std::string ReadFileText(const std::string& path);

// dezadizi-cli run as a child process: its exit code (-1 when it did not end normally) and what
// it printed; a crash or a run past the time-out is noted at the end of `err`.
struct TCliRun {
    int code = -1;
    std::string out;
    std::string err;
};
TCliRun RunCliProcess(const QStringList& arguments, int timeoutMs = 120000);

// Definitions of "Line Unit" (device id 17): `coils` check boxes at coil references 1 up and
// `registers` integer settings at holding register references 101 up.
std::string LineDefinitions(int coils, int registers);

// The bundled definition file in the source tree, and the folder of the built programs.
std::string SourcePath(const std::string& relative);
std::string BinPath(const std::string& name);
// The same with the bundled definition file, as a script would run it: every run numbers its
// groups and settings afresh.
TCliRun RunBuiltCli(const std::vector<std::string>& args, int timeoutMs = 120000);
