#pragma once
// The dezadizi-sim program run as a child process for a test: started with the given options,
// waited for until it says where it is, stopped with SIGTERM.
//
// It is started with posix_spawn rather than QProcess. Under ThreadSanitizer a child started by
// QProcess (with its default start or a plain fork) upsets the bookkeeping of our threads: the
// test dies at its next thread start, or well-ordered code is reported as racing. posix_spawn's
// child runs only the C library's own code before exec. Output goes to files, so the child
// never waits on a pipe nobody reads.
#include "support/TestSupport.h"

#include <QStringList>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

class TSimProcess {
public:
    // `configHome` becomes the child's XDG_CONFIG_HOME when given.
    explicit TSimProcess(const QStringList& arguments, const std::string& configHome = {}) {
        std::vector<std::string> argv{BinPath("dezadizi-sim")};
        for (const QString& argument : arguments)
            argv.push_back(argument.toStdString());
        std::vector<std::string> env;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            if (configHome.empty() || std::strncmp(*entry, "XDG_CONFIG_HOME=", 16) != 0)
                env.emplace_back(*entry);
        }
        if (!configHome.empty())
            env.push_back("XDG_CONFIG_HOME=" + configHome);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, FOutPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, FErrPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int spawned = posix_spawn(&FPid, argv[0].c_str(), &actions, nullptr, Pointers(argv).data(),
                                        Pointers(env).data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            FPid = -1;
            FStartError = "[cannot start " + argv[0] + ": " + std::strerror(spawned) + "]";
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string output = Output();
            const size_t ready = output.find("dezadizi-sim ready port=");
            if (ready != std::string::npos && output.find('\n', ready) != std::string::npos) {
                const size_t start = ready + 24;
                FPort = output.substr(start, output.find_first_of(" \n", start) - start);
                return;
            }
            if (Reap(false))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~TSimProcess() { Stop(); }
    TSimProcess(const TSimProcess&) = delete;
    TSimProcess& operator=(const TSimProcess&) = delete;

    // The pseudo-terminal's path; empty when the program did not come up.
    const std::string& Port() const { return FPort; }

    // `signal` (SIGTERM unless told) and wait; the exit code, or -1 when the program did not end by
    // itself (the reason is then added to Errors()).
    int Stop(int signal = SIGTERM) {
        if (FPid <= 0)
            return -1;
        if (!Reap(false)) {
            kill(FPid, signal);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
            while (!Reap(false) && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (FExitCode == -2) {
                FExtraErrors += "[did not end within 15 s of signal " + std::to_string(signal) + "]";
                kill(FPid, SIGKILL);
                Reap(true);
                FExitCode = -1;
            }
        }
        return FExitCode;
    }

    // Everything the program printed so far (all of it once stopped).
    std::string Output() const { return ReadFileText(FOutPath); }
    std::string Errors() const {
        return FStartError + (FPid > 0 ? ReadFileText(FErrPath) : std::string()) + FExtraErrors;
    }

    // Lines of the output that contain `text`.
    int CountLines(const std::string& text) const {
        const std::string output = Output();
        int count = 0;
        for (size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + 1))
            ++count;
        return count;
    }

private:
    static std::vector<char*> Pointers(std::vector<std::string>& strings) {
        std::vector<char*> pointers;
        for (std::string& s : strings)
            pointers.push_back(s.data());
        pointers.push_back(nullptr);
        return pointers;
    }

    // Collects the exit status once the program has ended; true when it has.
    bool Reap(bool block) {
        if (FExitCode != -2)
            return true;
        int status = 0;
        const pid_t done = waitpid(FPid, &status, block ? 0 : WNOHANG);
        if (done != FPid)
            return false;
        if (WIFEXITED(status)) {
            FExitCode = WEXITSTATUS(status);
        } else {
            FExtraErrors += "[ended abnormally: signal " + std::to_string(WTERMSIG(status)) + "]";
            FExitCode = -1;
        }
        return true;
    }

    TTempDir FDir;
    const std::string FOutPath = FDir.Path("stdout");
    const std::string FErrPath = FDir.Path("stderr");
    pid_t FPid = -1;
    std::string FPort;
    std::string FStartError;
    std::string FExtraErrors;
    int FExitCode = -2;
};
