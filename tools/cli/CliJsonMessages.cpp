#include "CliJsonMessages.h"

#include "features/Jsonlines.h"

#include <QJsonObject>
#include <string_view>

void TCliJsonMessages::Finish() {
    EndLine();
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
        if (text[i] == '\r') {
            // What follows is drawn over what came before, as a terminal shows it.
            FLine.clear();
            FShown = 0;
        } else if (text[i] == '\n') {
            EndLine();
        } else {
            FLine += text[i];
        }
    }
    return count;
}

int TCliJsonMessages::sync() {
    // A flush ends what was written. What a line shows before its line break is a progress bar.
    WriteError();
    FShown = FLine.size();
    return 0;
}

void TCliJsonMessages::EndLine() {
    TakeLine(FLine.substr(FShown));
    FLine.clear();
    FShown = 0;
}

void TCliJsonMessages::TakeLine(std::string line) {
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
