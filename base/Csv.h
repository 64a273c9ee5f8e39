#pragma once
// The one writer and the one reader of comma-separated text in the product: every export,
// report or record made for spreadsheets goes through the writer, so quoting and formula
// defusing are done alike everywhere.
#include <string>
#include <vector>

class TCsvWriter {
public:
    // Appends one line: the fields separated by commas, each quoted only where it must be, and
    // ended by carriage return and line feed.
    void AddRow(const std::vector<std::string>& fields);
    const std::string& Text() const { return FText; }

private:
    std::string FText;
};

// A field as RFC 4180 writes it: in double quotes, with its quotes doubled, when it holds a
// comma, a quote or a line break; unchanged otherwise, so ordinary exports stay plain.
std::string CsvField(const std::string& field);

// A free text (typed by a user or read from a unit) as a field value: one that begins with
// =, +, -, @, tab or carriage return would be taken for a formula by a spreadsheet, so it gets
// a leading apostrophe, which spreadsheets show as text and do not display.
std::string CsvSafeText(const std::string& text);

// The records of comma-separated text (RFC 4180: quoted fields may hold commas, quotes doubled
// and line breaks; lines end with LF or CR LF). Blank lines give no record.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text);
