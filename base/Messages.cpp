#include "base/Messages.h"

#include <iostream>

namespace {

TAnswer DefaultHandler(TMessageKind kind, const std::string& text) {
    std::cerr << text << std::endl;
    if (kind == TMessageKind::QuestionWithCancel)
        return TAnswer::Cancel;
    const bool question = kind == TMessageKind::Question || kind == TMessageKind::CautiousQuestion;
    return question ? TAnswer::No : TAnswer::Yes;
}

// The one place the program's messages go: the test seam, and where the window program puts its
// boxes.
TMessageHandler& Handler() {
    static TMessageHandler handler = DefaultHandler;
    return handler;
}

} // namespace

TMessageHandler SetMessageHandler(TMessageHandler handler) {
    TMessageHandler previous = Handler();
    Handler() = handler ? std::move(handler) : TMessageHandler(DefaultHandler);
    return previous;
}
void ShowError(const std::string& text) {
    Handler()(TMessageKind::Error, text);
}
void ShowInformation(const std::string& text) {
    Handler()(TMessageKind::Information, text);
}
void ShowWarning(const std::string& text) {
    Handler()(TMessageKind::Warning, text);
}
void ShowPlain(const std::string& text) {
    Handler()(TMessageKind::Plain, text);
}
TAnswer AskYesNo(const std::string& text) {
    return Handler()(TMessageKind::Question, text);
}
TAnswer AskYesNoCancel(const std::string& text) {
    return Handler()(TMessageKind::QuestionWithCancel, text);
}

TAnswer AskYesNoDefaultNo(const std::string& question, const std::vector<std::string>& details) {
    std::string text = question;
    for (size_t i = 0; i < details.size(); ++i)
        text += (i == 0 ? "\n\n" : "\n") + details[i];
    return Handler()(TMessageKind::CautiousQuestion, text);
}
