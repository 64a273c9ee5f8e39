#include "support/TestSupport.h"

#include <QProcess>
#include <fstream>
#include <sstream>
#include <stdexcept>

TMessageCapture::TMessageCapture() {
    FPrevious = SetMessageHandler([this](TMessageKind kind, const std::string& text) {
        messages.push_back({kind, text});
        const bool question = kind == TMessageKind::Question || kind == TMessageKind::CautiousQuestion ||
                              kind == TMessageKind::QuestionWithCancel;
        if (!question || answers.empty())
            return TAnswer::Yes;
        const TAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    });
}

TMessageCapture::~TMessageCapture() {
    SetMessageHandler(FPrevious);
}

std::vector<std::string> TMessageCapture::Texts() const {
    std::vector<std::string> texts;
    for (const auto& m : messages)
        texts.push_back(m.text);
    return texts;
}

TTempDir::TTempDir() {
    if (!FDir.isValid())
        throw std::runtime_error("cannot create a temporary folder");
}

std::string TTempDir::Path(const std::string& name) const {
    return FDir.filePath(QString::fromStdString(name)).toStdString();
}

std::string TTempDir::Write(const std::string& name, const std::string& content) const {
    const std::string path = Path(name);
    std::ofstream out(path, std::ios::binary);
    out << content;
    if (!out)
        throw std::runtime_error("cannot write " + path);
    return path;
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string SourcePath(const std::string& relative) {
    return std::string(DEZ_SOURCE_DIR) + "/" + relative;
}

std::string BinPath(const std::string& name) {
    return std::string(DEZ_BIN_DIR) + "/" + name;
}

std::string LineDefinitions(int coils, int registers) {
    std::string settings;
    for (int i = 0; i < coils; ++i) {
        settings += "<setting value_type=\"checkbox\" name=\"C" + std::to_string(i) + "\" register=\"" +
                    std::to_string(i) + "\" type=\"coil\" default=\"unchecked\"/>";
    }
    for (int i = 0; i < registers; ++i) {
        settings +=
            "<setting value_type=\"int\" name=\"R" + std::to_string(i) + "\" register=\"" +
            std::to_string(100 + i) +
            "\" type=\"holding_register\" min=\"-32768\" max=\"32767\" default=\"0\" value_text=\"\"/>";
    }
    return "<rur><device name=\"Line Unit\" device_id=\"17\" live_status_id=\"0\" settings_id=\"1\"/>"
           "<settings settings_id=\"1\"><group name=\"Main\" description=\"d\">" +
           settings + "</group></settings></rur>";
}

TCliRun RunCliProcess(const QStringList& arguments, int timeoutMs) {
    QProcess process;
    process.start(QString::fromStdString(BinPath("dezadizi-cli")), arguments);
    TCliRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        run.err = "[did not finish]";
        return run;
    }
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput().toStdString();
    run.err = process.readAllStandardError().toStdString();
    if (process.exitStatus() != QProcess::NormalExit)
        run.err += "[crashed]";
    return run;
}

TCliRun RunBuiltCli(const std::vector<std::string>& args, int timeoutMs) {
    QStringList arguments;
    for (const auto& arg : args)
        arguments << QString::fromStdString(arg);
    arguments << "-d" << QString::fromStdString(SourcePath("data/Devices.xml"));
    return RunCliProcess(arguments, timeoutMs);
}
