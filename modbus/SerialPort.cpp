#include "modbus/SerialPort.h"

#include "base/Usersettingskeys.h"

#include <QSettings>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

bool SpeedOf(int32_t baudRate, speed_t* speed) {
    struct Entry {
        int32_t baud;
        speed_t speed;
    };
    static constexpr Entry table[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const Entry& entry : table) {
        if (entry.baud == baudRate) {
            *speed = entry.speed;
            return true;
        }
    }
    return false;
}

// Milliseconds left until the deadline, rounded up so poll() never wakes early; 0 when past.
int RemainingMs(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

// Waits until the descriptor is ready for `events` or the deadline passes. Returns 1 when
// ready, 0 on time-out, -1 when the line is dead or poll() failed.
int WaitReady(int fd, short events, Clock::time_point deadline) {
    // The quiet line before each request ends on this time-out, not on a byte: the 50 us a
    // timer may be late by default would be added to every exchange. The slack belongs to the
    // calling thread; setting it each time costs less than a flag per thread would keep.
    ::prctl(PR_SET_TIMERSLACK, 1UL);
    for (;;) {
        pollfd entry{fd, events, 0};
        const int result = ::poll(&entry, 1, RemainingMs(deadline));
        if (result < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (result == 0)
            return Clock::now() >= deadline ? 0 : 1; // woke a little early: let the caller retry
        if (entry.revents & events)
            return 1;
        // POLLHUP, POLLERR or POLLNVAL without the wanted event: the far side is gone.
        return -1;
    }
}

bool SameLine(const termios& a, const termios& b) {
    constexpr tcflag_t lineFlags = CSIZE | CSTOPB | PARENB | PARODD;
    return cfgetospeed(&a) == cfgetospeed(&b) && cfgetispeed(&a) == cfgetispeed(&b) &&
           (a.c_cflag & lineFlags) == (b.c_cflag & lineFlags);
}

// A pseudo-terminal or a plain file has no modem lines; that is not an error.
bool ModemLinesAbsent(int error) {
    return error == ENOTTY || error == EINVAL;
}

// Unix98 pseudo-terminal slaves have majors 136 to 143.
bool IsPseudoTerminal(int fd) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) && major(status.st_rdev) >= 136 &&
           major(status.st_rdev) <= 143;
}

} // namespace

SerialPort::~SerialPort() {
    SerialPort::Close();
}

std::string SerialPort::ResolvePortName(const std::string& name) {
    if (!name.empty() && name.front() == '/')
        return name;
    const QString text = QString::fromStdString(name);
    if (text.size() > 3 && text.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) {
        bool ok = false;
        const int number = text.mid(3).toInt(&ok, 10);
        if (ok && number >= 1) {
            QSettings settings(UserSettings::Organization, UserSettings::Application);
            const QString mapped = settings.value(UserSettings::PortKey(number)).toString();
            if (!mapped.isEmpty())
                return mapped.toStdString();
            return "/dev/ttyS" + std::to_string(number - 1);
        }
    }
    return name;
}

int32_t SerialPort::Open(const std::string& name) {
    if (IsOpen())
        Close();

    const std::string path = ResolvePortName(name);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return NoSuchPort;
        case EACCES:
        case EPERM:
            return PermissionDenied;
        case EBUSY:
            return AccessDenied;
        default:
            return GeneralFailure;
        }
    }
    // The advisory lock keeps out every other process, root included; TIOCEXCL keeps out
    // programs that do not take the lock (root bypasses it).
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && (errno == EWOULDBLOCK || errno == EAGAIN)) {
        ::close(fd);
        return AccessDenied;
    }
    ::ioctl(fd, TIOCEXCL);
    FHandle = fd;
    FPseudoTerminal = IsPseudoTerminal(fd);

    if (::tcgetattr(FHandle, &FSavedSettings) != 0)
        return GeneralFailure;
    FHaveSavedSettings = true;
    Purge();
    Heard();
    return Configure(Unitmap::BaudRate, Unitmap::DataBits, Unitmap::StopBits, Unitmap::NoParity);
}

int32_t SerialPort::Configure(int32_t baudRate, int32_t dataBits, int32_t stopBits, int32_t parity) {
    if (!IsOpen())
        return NotOpen;
    termios previous{};
    if (::tcgetattr(FHandle, &previous) != 0)
        return GeneralFailure;
    if (dataBits != 7 && dataBits != 8)
        return UnsupportedSetting;
    if (stopBits != 1 && stopBits != 2)
        return UnsupportedSetting;
    if (parity < 0 || parity > 2)
        return UnsupportedSetting;
    speed_t speed{};
    if (!SpeedOf(baudRate, &speed))
        return UnsupportedSetting;

    termios wanted = previous;
    cfsetispeed(&wanted, speed);
    cfsetospeed(&wanted, speed);
    wanted.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
    wanted.c_cflag |= (dataBits == 8 ? CS8 : CS7) | CREAD | CLOCAL;
    if (stopBits == 2)
        wanted.c_cflag |= CSTOPB;
    wanted.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | IGNBRK | BRKINT | PARMRK | ISTRIP |
                                             INLCR | IGNCR | ICRNL | INPCK);
    if (parity != 0) {
        wanted.c_cflag |= PARENB;
        if (parity == 1)
            wanted.c_cflag |= PARODD;
        wanted.c_iflag |= INPCK;
    }
    // Binary: no output processing, no echo, no line editing, no signals.
    wanted.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    wanted.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    // With O_NONBLOCK an empty line reads as EAGAIN and a hung-up one as end of file.
    wanted.c_cc[VMIN] = 1;
    wanted.c_cc[VTIME] = 0;

    if (::tcsetattr(FHandle, TCSANOW, &wanted) != 0) {
        ::tcsetattr(FHandle, TCSANOW, &previous);
        return UnsupportedSetting;
    }
    // tcsetattr succeeds when any part was applied: check that the line took all of it.
    termios applied{};
    if (::tcgetattr(FHandle, &applied) != 0 || !SameLine(applied, wanted)) {
        ::tcsetattr(FHandle, TCSANOW, &previous);
        return UnsupportedSetting;
    }

    int dtr = TIOCM_DTR;
    int rts = TIOCM_RTS;
    if ((::ioctl(FHandle, TIOCMBIS, &dtr) != 0 && !ModemLinesAbsent(errno)) ||
        (::ioctl(FHandle, TIOCMBIC, &rts) != 0 && !ModemLinesAbsent(errno))) {
        ::tcsetattr(FHandle, TCSANOW, &previous);
        return UnsupportedSetting;
    }
    return Success;
}

int32_t SerialPort::Purge() {
    if (!IsOpen())
        return NotOpen;
    // Bytes thrown away unread were still bytes on the line: the quiet line starts again.
    int pending = 0;
    if (::ioctl(FHandle, FIONREAD, &pending) != 0 || pending > 0)
        Heard();
    return ::tcflush(FHandle, PurgeQueues()) == 0 ? Success : GeneralFailure;
}

int32_t SerialPort::Write(const uint8_t* buffer, int32_t length, int32_t timeoutMs) {
    if (!IsOpen())
        return NotOpen;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    int32_t done = 0;
    bool failed = false;
    while (done < length) {
        const ssize_t n = ::write(FHandle, buffer + done, static_cast<size_t>(length - done));
        if (n > 0) {
            done += static_cast<int32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            failed = true;
            break;
        }
        const int ready = WaitReady(FHandle, POLLOUT, deadline);
        if (ready <= 0) {
            failed = ready < 0;
            break;
        }
    }
    if (done > 0)
        Heard();
    if (done < length)
        return Timeout;
    return failed ? GeneralFailure : Success;
}

int32_t SerialPort::Read(uint8_t* buffer, int32_t length, int32_t timeoutMs) {
    if (!IsOpen())
        return NotOpen;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    int32_t done = 0;
    bool failed = false;
    while (done < length) {
        const ssize_t n = ::read(FHandle, buffer + done, static_cast<size_t>(length - done));
        if (n > 0) {
            done += static_cast<int32_t>(n);
            Heard();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            // End of file or EIO: the far side hung up, and nothing more will come.
            failed = true;
            break;
        }
        const int ready = WaitReady(FHandle, POLLIN, deadline);
        if (ready <= 0) {
            failed = ready < 0;
            break;
        }
    }
    if (done < length)
        return Timeout;
    return failed ? GeneralFailure : Success;
}

int32_t SerialPort::Flush() {
    if (!IsOpen())
        return NotOpen;
    // tcdrain has no time-out: a line held by flow control or a wedged adapter would stop the
    // worker, and with it a Connect or Exit, for good. The output queue is watched against a
    // deadline instead: the bytes still queued at 9600 baud, 11 bits a character, plus a margin.
    int queued = 0;
    if (::ioctl(FHandle, TIOCOUTQ, &queued) != 0)
        return Success; // no output queue to watch (a driver without one has sent it all)
    const auto deadline =
        Clock::now() +
        std::chrono::milliseconds(FlushMarginMs + queued * Unitmap::CharacterBits * 1000 / Unitmap::BaudRate);
    while (queued > 0) {
        if (Clock::now() >= deadline)
            return Timeout;
        ::usleep(1000);
        if (::ioctl(FHandle, TIOCOUTQ, &queued) != 0)
            return GeneralFailure;
    }
    // The last byte has only now left.
    Heard();
    return Success;
}

int32_t SerialPort::QuietMs() const {
    if (!IsOpen())
        return 0;
    const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - FLastHeard);
    return static_cast<int32_t>(std::clamp<int64_t>(quiet.count(), 0, INT32_MAX));
}

bool SerialPort::IsOpen() const {
    return FHandle >= 0;
}

void SerialPort::Close() {
    if (FHandle < 0)
        return;
    ::tcflush(FHandle, PurgeQueues());
    if (FHaveSavedSettings)
        ::tcsetattr(FHandle, TCSANOW, &FSavedSettings);
    // The exclusive flag outlives this descriptor on the terminal; clear it for the next user.
    ::ioctl(FHandle, TIOCNXCL);
    ::close(FHandle);
    FHandle = -1;
    FHaveSavedSettings = false;
}

int SerialPort::PurgeQueues() const {
    // A pseudo-terminal has no transmit queue of its own: what it wrote already sits in the
    // peer's input, as bytes on a real line would already be on the wire. Discarding "output"
    // there would take a request the peer has not read yet (a broadcast just sent) off the line.
    return FPseudoTerminal ? TCIFLUSH : TCIOFLUSH;
}
