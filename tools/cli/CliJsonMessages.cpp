#include "CliJsonMessages.h"

#include "features/Jsonlines.h"

#include <QJsonObject>
#include <string_view>

void TCliJsonMessages::Finish() {
    if (!FLine.empty())
        TakeLine(std::move(FLine));
    FLine.clear();
    WriteError();
}

TCliJsonMessages::int_type TCliJsonMessages::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    const char character = traits_type::to_char_type(c);
    xsputn(&character, 1);
    return c;
}

std::streamsize TCliJsonMessages::xsputn(const char* text, std::streamsize count) {
    for (std::streamsize i = 0; i < count; ++i) {
        if (text[i] != '\n') {
            FLine += text[i];
            continue;
        }
        TakeLine(std::move(FLine));
        FLine.clear();
    }
    return count;
}

int TCliJsonMessages::sync() {
    // A flush ends what was written; a line still open (a progress bar's) is not a message yet.
    WriteError();
    return 0;
}

void TCliJsonMessages::TakeLine(std::string line) {
    const size_t redrawn = line.find_last_of('\r');
    if (redrawn != std::string::npos)
        line.erase(0, redrawn + 1);
    for (size_t clear; (clear = line.find("\033[K")) != std::string::npos;)
        line.erase(clear, 3);
    if (line.empty())
        return;
    constexpr std::string_view Warning = "warning: ";
    if (line.rfind(Warning, 0) == 0) {
        WriteError();
        FErr << JsonLine(JsonMessage("warning", line.substr(Warning.size()))) << std::flush;
        return;
    }
    FError += (FError.empty() ? "" : "\n") + line;
}

void TCliJsonMessages::WriteError() {
    if (FError.empty())
        return;
    FErr << JsonLine(JsonMessage("error", FError)) << std::flush;
    FError.clear();
}
