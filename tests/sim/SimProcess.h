#pragma once
// The dezadizi-sim program run as a child process for a test: started with the given options,
// waited for until it says where it is, stopped with SIGTERM.
#include "support/TestSupport.h"

#include <QProcess>
#include <QStringList>
#include <chrono>
#include <string>

class TSimProcess {
public:
    // `configHome` becomes the child's XDG_CONFIG_HOME when given.
    explicit TSimProcess(const QStringList& arguments, const std::string& configHome = {}) {
        if (!configHome.empty()) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(configHome));
            FProcess.setProcessEnvironment(environment);
        }
        FProcess.setProgram(QString::fromStdString(BinPath("dezadizi-sim")));
        FProcess.setArguments(arguments);
        FProcess.start();
        if (!FProcess.waitForStarted(5000))
            return;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            Collect();
            const size_t ready = FOutput.find("dezadizi-sim ready port=");
            if (ready != std::string::npos) {
                const size_t start = ready + 24;
                FPort = FOutput.substr(start, FOutput.find(' ', start) - start);
                return;
            }
            if (FProcess.state() == QProcess::NotRunning)
                return;
            FProcess.waitForReadyRead(50);
        }
    }
    ~TSimProcess() { Stop(); }
    TSimProcess(const TSimProcess&) = delete;
    TSimProcess& operator=(const TSimProcess&) = delete;

    // The pseudo-terminal's path; empty when the program did not come up.
    const std::string& Port() const { return FPort; }

    // SIGTERM and wait; the exit code, or -1 when the program did not end by itself (the reason
    // is then added to Errors()).
    int Stop() {
        if (FExitCode != -2)
            return FExitCode;
        if (FProcess.state() != QProcess::NotRunning) {
            FProcess.terminate();
            if (!FProcess.waitForFinished(15000)) {
                FErrors += "[did not end within 15 s of SIGTERM]";
                FProcess.kill();
                FProcess.waitForFinished(5000);
                FExitCode = -1;
                Collect();
                return FExitCode;
            }
        }
        if (FProcess.exitStatus() == QProcess::NormalExit) {
            FExitCode = FProcess.exitCode();
        } else {
            FErrors += "[ended abnormally: " + FProcess.errorString().toStdString() + "]";
            FExitCode = -1;
        }
        Collect();
        return FExitCode;
    }

    // Everything the program printed so far (all of it once stopped).
    std::string Output() {
        Collect();
        return FOutput;
    }
    std::string Errors() {
        Collect();
        return FErrors;
    }

    // Lines of the output that contain `text`.
    int CountLines(const std::string& text) {
        Collect();
        int count = 0;
        for (size_t at = FOutput.find(text); at != std::string::npos; at = FOutput.find(text, at + 1))
            ++count;
        return count;
    }

private:
    void Collect() {
        FOutput += FProcess.readAllStandardOutput().toStdString();
        FErrors += FProcess.readAllStandardError().toStdString();
    }

    QProcess FProcess;
    std::string FOutput;
    std::string FErrors;
    std::string FPort;
    int FExitCode = -2;
};
