#include "SimPort.h"

#include "SimUnit.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// A frame of unknown length ends after a quiet line of about 3.5 characters.
constexpr int FrameGapMs = 5;
constexpr int IdleMs = 200;

// Sleeps until the deadline; false when `stopFd` became readable first.
bool SleepUntil(std::chrono::steady_clock::time_point deadline, int stopFd) {
    for (;;) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            return true;
        if (left < std::chrono::milliseconds(2)) {
            std::this_thread::sleep_until(deadline);
            return true;
        }
        pollfd stop{stopFd, POLLIN, 0};
        const int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count());
        if (::poll(&stop, 1, ms) > 0)
            return false;
    }
}

} // namespace

TSimPort::~TSimPort() {
    if (FSlave >= 0)
        ::close(FSlave);
    if (FMaster >= 0)
        ::close(FMaster);
}

bool TSimPort::Create(std::string* error) {
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0) {
        *error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    char name[128] = {};
    if (::ptsname_r(FMaster, name, sizeof name) != 0) {
        *error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    FPath = name;
    FSlave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FSlave < 0) {
        *error = "cannot open " + FPath + ": " + std::strerror(errno);
        return false;
    }
    // A fresh terminal echoes and translates line ends; a Modbus line must do neither, also
    // for a master that does not set raw mode itself.
    termios settings{};
    ::tcgetattr(FSlave, &settings);
    ::cfmakeraw(&settings);
    ::cfsetispeed(&settings, B9600);
    ::cfsetospeed(&settings, B9600);
    ::tcsetattr(FSlave, TCSANOW, &settings);
    ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    return true;
}

std::vector<std::vector<uint8_t>> TSimReceiver::Receive(const uint8_t* bytes, size_t count) {
    std::vector<std::vector<uint8_t>> frames;
    for (size_t i = 0; i < count && !FDiscarding; ++i) {
        FPending.push_back(bytes[i]);
        const size_t length = TSimUnit::RequestLength(FPending.data(), FPending.size());
        if (length != 0 && FPending.size() >= length) {
            frames.push_back(std::move(FPending));
            FPending.clear();
        } else if (FPending.size() >= MaxFrameLength) {
            // No frame is this long: where one begins can only be told after a quiet line.
            FPending.clear();
            FDiscarding = true;
        }
    }
    return frames;
}

std::vector<uint8_t> TSimReceiver::LineQuiet() {
    FDiscarding = false;
    std::vector<uint8_t> frame;
    frame.swap(FPending);
    return frame;
}

void TSimPort::Serve(TSimUnit& unit, int stopFd, const std::function<void()>& idle) {
    Serve(std::vector<TSimUnit*>{&unit}, stopFd, idle);
}

void TSimPort::Serve(const std::vector<TSimUnit*>& units, int stopFd, const std::function<void()>& idle) {
    TSimUnit& unit = *units.front();
    TSimReceiver receiver;
    Clock::time_point firstByte{};
    for (;;) {
        pollfd fds[2] = {{FMaster, POLLIN, 0}, {stopFd, POLLIN, 0}};
        const bool midFrame = receiver.Held() > 0 || receiver.Discarding();
        const int result = ::poll(fds, 2, midFrame ? FrameGapMs : IdleMs);
        if (result < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        if (result == 0) {
            // The line fell quiet: whatever arrived is one frame.
            const std::vector<uint8_t> frame = receiver.LineQuiet();
            if (!frame.empty())
                Process(units, frame, firstByte, stopFd);
            else if (idle)
                idle();
            continue;
        }
        uint8_t chunk[512];
        const ssize_t n = ::read(FMaster, chunk, sizeof chunk);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            return; // cannot happen while the slave side is held open
        }
        if (receiver.Held() == 0)
            firstByte = Clock::now();
        const bool wasDiscarding = receiver.Discarding();
        const auto frames = receiver.Receive(chunk, static_cast<size_t>(n));
        if (receiver.Discarding() && !wasDiscarding && unit.OnLog)
            unit.OnLog("no frame within " + std::to_string(TSimReceiver::MaxFrameLength) +
                       " bytes: noise thrown away until the line falls quiet");
        for (const std::vector<uint8_t>& frame : frames) {
            Process(units, frame, firstByte, stopFd);
            firstByte = Clock::now();
        }
    }
}

void TSimPort::Process(const std::vector<TSimUnit*>& units, const std::vector<uint8_t>& frame,
                       Clock::time_point firstByte, int stopFd) {
    ReportTraffic(FTrace, TTrafficSide::Unit, TTrafficDirection::Received, TTrafficFraming::Rtu, frame);
    if (FWireSpeed) {
        // The master's write lands all at once; on a real line its last byte would only now arrive.
        if (!SleepUntil(firstByte + WireTime(frame.size()), stopFd))
            return;
    }
    TSimReply reply;
    for (TSimUnit* unit : units) {
        TSimReply answer = unit->Handle(frame.data(), frame.size());
        if (!answer.bytes.empty())
            reply = std::move(answer);
    }
    if (reply.bytes.empty())
        return;
    if (reply.delayMs > 0 && !SleepUntil(Clock::now() + std::chrono::milliseconds(reply.delayMs), stopFd))
        return;
    if (Send(reply.bytes, stopFd))
        ReportTraffic(FTrace, TTrafficSide::Unit, TTrafficDirection::Sent, TTrafficFraming::Rtu, reply.bytes);
}

bool TSimPort::Send(const std::vector<uint8_t>& bytes, int stopFd) {
    const Clock::time_point start = Clock::now();
    size_t done = 0;
    while (done < bytes.size()) {
        // At wire speed each byte is handed over when its last bit would have arrived.
        size_t chunk = bytes.size() - done;
        if (FWireSpeed) {
            if (!SleepUntil(start + WireTime(done + 1), stopFd))
                return false;
            chunk = 1;
        }
        const ssize_t n = ::write(FMaster, bytes.data() + done, chunk);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        // A real line never holds bytes back: when nobody takes them (no master has the line
        // open and the terminal's buffer is full), the rest of the reply is lost.
        pollfd fds[2] = {{FMaster, POLLOUT, 0}, {stopFd, POLLIN, 0}};
        if (::poll(fds, 2, 100) <= 0 || fds[1].revents != 0)
            return false;
    }
    return true;
}
