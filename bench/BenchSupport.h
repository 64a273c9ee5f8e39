#pragma once
// What the benchmarks share: generated definition files, and the simulator started as a child
// process on its own pseudo-terminal.
#include <QCoreApplication>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <functional>
#include <string>

// dezadizi-sim with `arguments`, publishing itself in `configHome` (its XDG_CONFIG_HOME, so the
// user's own settings stay out of it); terminated when this goes.
class TBenchSimulator {
public:
    TBenchSimulator(const QStringList& arguments, const QString& configHome) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        FProcess.setProcessEnvironment(environment);
        FProcess.start(QCoreApplication::applicationDirPath() + QStringLiteral("/dezadizi-sim"), arguments);
        // "dezadizi-sim ready port=PATH ..." once the line is there.
        std::string output;
        while (output.find('\n', output.find("port=")) == std::string::npos &&
               FProcess.waitForReadyRead(10000))
            output += FProcess.readAllStandardOutput().toStdString();
        const size_t at = output.find("port=");
        if (at != std::string::npos)
            FPort = output.substr(at + 5, output.find_first_of(" \n", at + 5) - at - 5);
    }
    ~TBenchSimulator() {
        FProcess.terminate();
        FProcess.waitForFinished(5000);
    }
    TBenchSimulator(const TBenchSimulator&) = delete;
    TBenchSimulator& operator=(const TBenchSimulator&) = delete;

    // The path of its line; empty when it did not start.
    const std::string& Port() const { return FPort; }

private:
    QProcess FProcess;
    std::string FPort;
};

// The least time a run's exchanges take on a 9600-baud line: all frame bytes at 11 bits a
// character, plus a wait per exchange (the serial master's 5 ms quiet line before each request).
struct TBenchBound {
    static constexpr double CharacterMs = 11.0 * 1000.0 / 9600.0;
    static constexpr double QuietLineMs = 5.0;
    int exchanges = 0;
    int bytes = 0;
    double Ms(double perExchangeMs = QuietLineMs) const {
        return bytes * CharacterMs + exchanges * perExchangeMs;
    }

    // Counts the exchange behind one progress report of a run. Each block report names its first
    // and last address; a read reply carries address, function, byte count, data and CRC; a
    // single write and its echo are 8 bytes each.
    void Add(const std::string& text) {
        int first = 0, last = 0;
        if (text.rfind("Verifying settings", 0) == 0)
            return; // the verification's start, no exchange
        if (std::sscanf(text.c_str(), "Reading Coils %d to %d", &first, &last) == 2 ||
            std::sscanf(text.c_str(), "Verifying Coils %d to %d", &first, &last) == 2)
            bytes += 8 + 5 + (last - first + 1 + 7) / 8;
        else if (std::sscanf(text.c_str(), "Reading Holding Registers %d to %d", &first, &last) == 2 ||
                 std::sscanf(text.c_str(), "Verifying Holding Registers %d to %d", &first, &last) == 2)
            bytes += 8 + 5 + 2 * (last - first + 1);
        else
            bytes += 16; // a single write, or the commit
        ++exchanges;
    }
};

// Takes the worker's reports, sleeping in the event loop between them as the window does.
inline void BenchWaitUntil(const std::function<bool()>& done) {
    QTimer tick;
    tick.start(10);
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

// A definition file of `devices` device types, ids from 100: each one's settings hold a group
// "Unit" that starts with the units choice at `unitsRegister` and goes on with `unitBody`, and
// a group "Group" holding `groupBody`.
inline std::string BenchDefinitionFile(int devices, int unitsRegister, const std::string& unitBody,
                                       const std::string& groupBody) {
    std::string xml = "<?xml version=\"1.0\"?>\n<rur>\n";
    for (int d = 0; d < devices; ++d) {
        xml += "<device name=\"Unit " + std::to_string(d) + "\" device_id=\"" + std::to_string(100 + d) +
               "\" live_status_id=\"0\" settings_id=\"" + std::to_string(d) + "\"/>\n";
    }
    for (int d = 0; d < devices; ++d) {
        xml += "<settings settings_id=\"" + std::to_string(d) +
               "\">\n<group name=\"Unit\" description=\"Unit\">\n";
        xml += "<setting value_type=\"drop_down\" name=\"Units\" register=\"" +
               std::to_string(unitsRegister) +
               "\" type=\"holding_register\" "
               "units=\"v\"><ddvalue name=\"m/sec\" value=\"0\"/><ddvalue name=\"ft/min\" "
               "value=\"1\"/></setting>\n";
        xml += unitBody;
        xml += "</group>\n<group name=\"Group\" description=\"One group\">\n";
        xml += groupBody;
        xml += "</group>\n</settings>\n";
    }
    return xml + "</rur>\n";
}

inline std::string BenchSetting(int i, bool inTemplate) {
    const std::string reg = std::to_string(1000 + 20 * i);
    const std::string offset = inTemplate ? " offset=\"1000\"" : "";
    const std::string name = "Setting " + std::to_string(i);
    switch (i % 7) {
    case 0:
        return "<setting value_type=\"int\" name=\"" + name + "\" register=\"" + reg +
               "\" type=\"holding_register\"" + offset +
               " min=\"0\" max=\"100\" default=\"5\" value_text=\"%\"/>";
    case 1:
        return "<setting value_type=\"units\" name=\"" + name + "\" register=\"" + reg +
               "\" type=\"holding_register\"" + offset + " min=\"0\" max=\"2000\" default=\"250\"/>";
    case 2:
        return "<setting value_type=\"checkbox\" name=\"" + name + "\" register=\"" + reg +
               "\" type=\"coil\"" + offset + " default=\"checked\"/>";
    case 3:
        return "<setting value_type=\"drop_down\" name=\"" + name + "\" register=\"" + reg +
               "\" type=\"holding_register\"" + offset +
               "><ddvalue name=\"Off\" value=\"0\" default=\"true\"/><ddvalue name=\"On\" value=\"1\"/>"
               "<ddvalue name=\"Auto\" value=\"2\"/></setting>";
    case 4:
        return "<setting value_type=\"name\" name=\"" + name + "\" register=\"" + reg +
               "\" type=\"holding_register\"" + offset + " NumOfRegisters=\"8\" default=\"Zone\"/>";
    case 5:
        return "<setting value_type=\"label\" name=\"" + name + "\" register=\"" + reg +
               "\" type=\"holding_register\"" + offset + " default=\"0\"/>";
    default:
        return "<setting value_type=\"uint32\" name=\"" + name + "\" register=\"" + reg +
               "\" type=\"holding_register\"" + offset +
               " min=\"0\" max=\"1000000\" default=\"10\" value_text=\"h\"/>";
    }
}

// `devices` device types, each with its own settings element of `unitSettings` ordinary settings
// and a template of `templateSettings` settings (200 copies of each), with every kind of setting.
inline std::string BenchDefinitionFile(int devices, int unitSettings, int templateSettings) {
    std::string unitBody;
    for (int i = 0; i < unitSettings; ++i)
        unitBody += BenchSetting(i, false) + "\n";
    std::string groupBody;
    for (int i = 0; i < templateSettings; ++i)
        groupBody += BenchSetting(i, true) + "\n";
    return BenchDefinitionFile(devices, 1, unitBody, groupBody);
}

// Runs the benchmarks the command line selects (Google Benchmark's own options); the caller has
// made the Qt application object the benchmarks need.
inline int RunBenchmarks(int& argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
