#pragma once
// Standard error as --json gives it: what a command writes there, turned into objects as it is
// written, so a script sees a warning while the run it concerns goes on.
#include <ostream>
#include <streambuf>
#include <string>

// Each "warning: " line becomes a warning object at once. Each run of other lines is one error
// object (a message may take several lines), written as soon as it is known to be complete: at
// the next warning, at a flush, or at the end. What a line shows (flushes) before its line break
// is a progress bar on a terminal, no message, and is left out; after a carriage return only
// what is drawn over the line counts.
class TCliJsonMessages : public std::streambuf {
public:
    explicit TCliJsonMessages(std::ostream& err) : FErr(err) {}
    TCliJsonMessages(const TCliJsonMessages&) = delete;
    TCliJsonMessages& operator=(const TCliJsonMessages&) = delete;
    ~TCliJsonMessages() override { Finish(); }

    // Writes what is still held: a last line without its line break and the error it ends.
    void Finish();

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

private:
    void EndLine();
    void TakeLine(std::string line);
    void WriteError();

    std::ostream& FErr;
    std::string FLine;  // the line being written
    std::string FError; // the error's lines so far
    size_t FShown = 0;  // how much of it a flush showed before its line break
};
