#pragma once
// The dezadizi-sim program run as a child process for a test: started with the given options,
// waited for until it says where it is, stopped with SIGTERM. Waits wake when the program writes
// a line (inotify on its output file) or ends (its pidfd), never on a clock.
//
// It is started with posix_spawn rather than QProcess. Under ThreadSanitizer a child started by
// QProcess (with its default start or a plain fork) upsets the bookkeeping of our threads: the
// test dies at its next thread start, or well-ordered code is reported as racing. posix_spawn's
// child runs only the C library's own code before exec. Output goes to files, so the child
// never waits on a pipe nobody reads.
#include "support/TestSupport.h"

#include <QStringList>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
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
        // The output file exists before the program starts, so that its first line is seen.
        ::close(::open(FOutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        FWatch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (FWatch >= 0)
            inotify_add_watch(FWatch, FOutPath.c_str(), IN_MODIFY);

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
        FEnd = static_cast<int>(::syscall(SYS_pidfd_open, FPid, 0));
        std::string output;
        const auto ready = [&] {
            output = Output();
            const size_t at = output.find("dezadizi-sim ready port=");
            return at != std::string::npos && output.find('\n', at) != std::string::npos;
        };
        if (!WaitFor(ready, 10000))
            return;
        const size_t start = output.find("dezadizi-sim ready port=") + 24;
        FPort = output.substr(start, output.find_first_of(" \n", start) - start);
    }
    ~TSimProcess() {
        Stop();
        for (const int fd : {FWatch, FEnd}) {
            if (fd >= 0)
                ::close(fd);
        }
    }
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
            if (!WaitFor([this] { return Reap(false); }, 15000)) {
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

    // Until `condition` holds, looking again whenever the program writes or ends; false when it
    // still does not hold after `timeoutMs` or once the program has ended.
    bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!condition()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                return false;
            pollfd events[2] = {{FWatch, POLLIN, 0}, {FEnd, POLLIN, 0}};
            // Without inotify or a pidfd (an older kernel) the program is looked at every 10 ms.
            const bool blind = FWatch < 0 || FEnd < 0;
            ::poll(events, 2, static_cast<int>(blind ? std::min<long long>(left, 10) : left));
            if ((events[0].revents & POLLIN) != 0) {
                char drained[4096];
                while (::read(FWatch, drained, sizeof drained) > 0) {
                }
            }
            if ((events[1].revents & POLLIN) != 0)
                return condition(); // ended: what it wrote is all there is
        }
        return true;
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
    int FWatch = -1; // inotify of the output file
    int FEnd = -1;   // the program's pidfd, readable once it has ended
    std::string FPort;
    std::string FStartError;
    std::string FExtraErrors;
    int FExitCode = -2;
};
