// The documentation says what the programs do: each man page and the README list the commands
// and options of the program's --help, the programs tell the project's version, and the bash
// completion offers what the command-line tool takes.
#include "Version.h"
#include "app/Fm_main.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

namespace {

using TNames = std::set<std::string>;

std::string Output(const std::string& program, const QStringList& arguments) {
    QProcess process;
    process.start(QString::fromStdString(program), arguments);
    EXPECT_TRUE(process.waitForFinished(60000)) << program;
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << program;
    EXPECT_EQ(process.exitCode(), 0) << program << " " << process.readAllStandardError().toStdString();
    return process.readAllStandardOutput().toStdString();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Every word that looks like an option: -x or --word, not a hyphen inside a word.
TNames Options(const std::string& text) {
    static const QRegularExpression option(QStringLiteral(R"((?<![\w-])(--?[A-Za-z][\w-]*))"));
    TNames names;
    auto matches = option.globalMatch(QString::fromStdString(text));
    while (matches.hasNext())
        names.insert(matches.next().captured(1).toStdString());
    return names;
}

// The lines from the one that starts with `heading` up to the next that starts with `next`.
std::string Section(const std::string& text, const std::string& heading, const std::string& next) {
    std::string section;
    bool in = false;
    for (const std::string& line : Lines(text)) {
        if (in && line.rfind(next, 0) == 0)
            break;
        if (in)
            section += line + "\n";
        if (line.rfind(heading, 0) == 0)
            in = true;
    }
    EXPECT_FALSE(section.empty()) << "no section " << heading;
    return section;
}

// The first capture of `pattern` on every line that matches it.
TNames LineStarts(const std::string& text, const char* pattern) {
    const QRegularExpression expression(QString::fromLatin1(pattern));
    TNames names;
    for (const std::string& line : Lines(text)) {
        const auto match = expression.match(QString::fromStdString(line));
        if (match.hasMatch())
            names.insert(match.captured(1).toStdString());
    }
    return names;
}

std::string ManPage(const std::string& program) {
    return ReadFileText(SourcePath("doc/man/" + program + ".1.scd"));
}

} // namespace

TEST(Docs, CliHelpManPageAndReadmeListTheSameCommandsAndOptions) {
    const std::string help = Output(BinPath("dezadizi-cli"), {"--help"});
    const std::string page = ManPage("dezadizi-cli");
    const std::string readme = Section(ReadFileText(SourcePath("README.md")), "## Command-line tool", "## ");

    const TNames commands = LineStarts(Section(help, "commands:", "options:"), R"(^  ([a-z][\w-]*))");
    EXPECT_TRUE(commands.count("devices") && commands.count("write")) << help;
    EXPECT_EQ(LineStarts(Section(page, "# COMMANDS", "# "), R"(^\*([a-z][\w-]*)\*)"), commands);
    EXPECT_EQ(LineStarts(readme, R"(^    dezadizi-cli ([a-z][\w-]*))"), commands);

    const TNames options = Options(help);
    EXPECT_TRUE(options.count("-d") && options.count("--version")) << help;
    EXPECT_EQ(Options(page), options);
    EXPECT_EQ(Options(readme), options);
}

TEST(Docs, WindowAndSimulatorManPagesListTheOptionsOfTheirHelp) {
    for (const char* program : {"dezadizi-config", "dezadizi-sim"}) {
        const TNames options = Options(Output(BinPath(program), {"--help"}));
        EXPECT_TRUE(options.count("--help") && options.count("--version")) << program;
        EXPECT_EQ(Options(ManPage(program)), options) << program;
    }
}

TEST(Docs, EveryProgramTellsTheProjectVersion) {
    const std::string version = DezVersion;
    ASSERT_FALSE(version.empty());
    for (const char* program : {"dezadizi-config", "dezadizi-cli", "dezadizi-sim"})
        EXPECT_EQ(Output(BinPath(program), {"--version"}), std::string(program) + " " + version + "\n");

    TfmMain window(nullptr, BinPath("Devices.xml"));
    const auto* title = window.findChild<QWidget*>(QStringLiteral("pnTitle"));
    ASSERT_NE(title, nullptr);
    EXPECT_TRUE(title->toolTip().endsWith(QString::fromStdString(" " + version)))
        << title->toolTip().toStdString();
}

TEST(Docs, CompletionOffersCommandsOptionsDeviceTypesAndCommPorts) {
    // Each completed line prints its offers and then "--".
    const char* const script = R"(
        source "$1"
        offers() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMPREPLY=(); _dezadizi_cli
                   printf '%s\n' "${COMPREPLY[@]}"; echo --; }
        offers dezadizi-cli wr
        offers dezadizi-cli write --v
        offers dezadizi-cli convert 'Z7E\ F'
        offers dezadizi-cli convert -d "$2" ''
        offers dezadizi-cli read CO
        offers dezadizi-cli ports set CO
    )";
    TTempDir dir;
    const std::string other = dir.Write("Other.xml", LineDefinitions(1, 1));
    QProcess bash;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"),
                       QString::fromStdString(BinPath("")) + ":" + environment.value(QStringLiteral("PATH")));
    bash.setProcessEnvironment(environment);
    bash.start(QStringLiteral("bash"),
               {QStringLiteral("-c"), QString::fromLatin1(script), QStringLiteral("bash"),
                QString::fromStdString(SourcePath("packaging/dezadizi-cli.bash-completion")),
                QString::fromStdString(other)});
    ASSERT_TRUE(bash.waitForFinished(60000));
    std::vector<std::vector<std::string>> offers(1);
    for (const std::string& line : Lines(bash.readAllStandardOutput().toStdString())) {
        if (line == "--")
            offers.emplace_back();
        else
            offers.back().push_back(line);
    }
    ASSERT_EQ(offers.size(), 7u) << bash.readAllStandardError().toStdString();
    EXPECT_EQ(offers[0], std::vector<std::string>{"write"});
    EXPECT_EQ(offers[1], std::vector<std::string>{"--version"});
    EXPECT_EQ(offers[2], std::vector<std::string>{"Z7E\\ Fan\\ Coil\\ Interface"});
    EXPECT_EQ(offers[3], std::vector<std::string>{"Line\\ Unit"})
        << "the device types of the file given with -d";
    for (size_t i : {4u, 5u}) {
        ASSERT_FALSE(offers[i].empty());
        EXPECT_EQ(offers[i].front(), "COM1");
        for (const std::string& port : offers[i])
            EXPECT_EQ(port.rfind("COM", 0), 0u) << port;
    }
}

// The dependency rule of ARCHITECTURE.md holds for the sources, and the check finds an include
// that breaks it: a setting kind reaching up into a feature.
TEST(Architecture, TheIncludeRuleHoldsAndItsCheckFindsAPlantedBreach) {
    const QString script = QString::fromStdString(SourcePath("scripts/check-includes.sh"));
    QProcess sources;
    sources.start("bash", {script});
    ASSERT_TRUE(sources.waitForFinished(60000));
    EXPECT_EQ(sources.exitCode(), 0) << sources.readAllStandardOutput().toStdString();

    TTempDir dir;
    QDir().mkpath(QString::fromStdString(dir.Path("src/features")));
    QDir().mkpath(QString::fromStdString(dir.Path("src/settings")));
    dir.Write("src/features/Compare.h", "#pragma once\n");
    dir.Write("src/settings/Setting.h", "#pragma once\n#include \"base/Errors.h\"\n");
    dir.Write("src/settings/Planted.cpp",
              "#include \"settings/Setting.h\"\n#include \"features/Compare.h\"\n");
    QProcess planted;
    planted.start("bash", {script, QString::fromStdString(dir.Path("src"))});
    ASSERT_TRUE(planted.waitForFinished(60000));
    EXPECT_EQ(planted.exitCode(), 1);
    EXPECT_EQ(planted.readAllStandardOutput().toStdString(),
              "settings/Planted.cpp:2: settings may not include features (features/Compare.h)\n");
}
