#pragma once
// A pseudo-terminal pair for tests: the test keeps the master side and plays the far end of
// the line; the code under test opens `path` as its comm port.
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

class TTestPty {
public:
    TTestPty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128] = {};
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
            ::ptsname_r(master, name, sizeof name) != 0)
            throw std::runtime_error("cannot create a pseudo-terminal");
        path = name;
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~TTestPty() { CloseMaster(); }
    TTestPty(const TTestPty&) = delete;
    TTestPty& operator=(const TTestPty&) = delete;

    void CloseMaster() {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

    // Up to `count` bytes that arrive before the deadline.
    std::vector<uint8_t> Receive(size_t count, int timeoutMs) const {
        std::vector<uint8_t> bytes;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (bytes.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd entry{master, POLLIN, 0};
            if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0)
                continue;
            uint8_t chunk[512];
            const ssize_t n = ::read(master, chunk, std::min(sizeof chunk, count - bytes.size()));
            if (n > 0)
                bytes.insert(bytes.end(), chunk, chunk + n);
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                break;
        }
        return bytes;
    }

    void Send(const std::vector<uint8_t>& bytes) const {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                throw std::runtime_error("cannot write to the pseudo-terminal");
        }
    }

    int master = -1;
    std::string path;
};
