#include "modbus/SerialPort.h"

#include "TestPty.h"
#include "modbus/MbusRtuMasterProtocol.h"
#include "support/TestSupport.h"

#include <QSettings>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

milliseconds Since(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

termios LineOf(const TTestPty& pty) {
    termios settings{};
    // On Linux the master side reads and writes the settings of the slave side.
    EXPECT_EQ(::tcgetattr(pty.master, &settings), 0);
    return settings;
}

bool SameSettings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && cfgetospeed(&a) == cfgetospeed(&b) && cfgetispeed(&a) == cfgetispeed(&b);
}

} // namespace

TEST(SerialPort, OpenResults) {
    SerialPort port;
    EXPECT_EQ(port.Open("/dev/no-such-serial-port"), SerialPort::NoSuchPort);
    EXPECT_FALSE(port.IsOpen());

    TTestPty pty;
    ASSERT_EQ(port.Open(pty.path), SerialPort::Success);
    EXPECT_TRUE(port.IsOpen());

    // Exclusive, within this process and from another one (root included: the lock holds).
    SerialPort second;
    EXPECT_EQ(second.Open(pty.path), SerialPort::AccessDenied);
    EXPECT_FALSE(second.IsOpen());
    const pid_t child = ::fork();
    if (child == 0) {
        SerialPort other;
        ::_exit(other.Open(pty.path) == SerialPort::AccessDenied ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other process could open the port";

    // Released on close: the next program gets it.
    port.Close();
    EXPECT_EQ(second.Open(pty.path), SerialPort::Success);
    // Opening an open port closes it first.
    EXPECT_EQ(second.Open(pty.path), SerialPort::Success);
}

TEST(SerialPort, ADeviceTheUserMayNotOpenIsAPermissionProblemNotAPortInUse) {
    // A device only its owner may open, tried by someone else: as root that means dropping to
    // nobody in a child process, since root opens anything.
    TTempDir dir;
    const std::string device = dir.Write("ttyS9", "");
    const std::string folder = std::filesystem::path(device).parent_path().string();
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(device.c_str(), ::geteuid() == 0 ? 0600 : 0000), 0);
    int results[2] = {};
    ASSERT_EQ(::pipe(results), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(2);
        SerialPort port;
        MbusRtuMasterProtocol protocol;
        const int32_t codes[2] = {port.Open(device), protocol.Open(device, 9600, 8, 1, 0)};
        ::_exit(::write(results[1], codes, sizeof codes) == sizeof codes ? 0 : 3);
    }
    ::close(results[1]);
    int32_t codes[2] = {-1, -1};
    const ssize_t got = ::read(results[0], codes, sizeof codes);
    ::close(results[0]);
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    ASSERT_EQ(got, static_cast<ssize_t>(sizeof codes));
    EXPECT_EQ(codes[0], SerialPort::PermissionDenied);
    EXPECT_EQ(codes[1], FTALK_PORT_NO_ACCESS);
    EXPECT_EQ(ErrorText(codes[1]), "No permission to access serial or TCP port");
}

TEST(SerialPort, ClosedPortRefusesEverything) {
    SerialPort port;
    uint8_t byte = 0;
    EXPECT_EQ(port.Write(&byte, 1, 10), SerialPort::NotOpen);
    EXPECT_EQ(port.Read(&byte, 1, 10), SerialPort::NotOpen);
    EXPECT_EQ(port.Purge(), SerialPort::NotOpen);
    EXPECT_EQ(port.Flush(), SerialPort::NotOpen);
    EXPECT_EQ(port.Configure(9600, 8, 1, 0), SerialPort::NotOpen);
    port.Close();
    port.Close();
    EXPECT_FALSE(port.IsOpen());
}

TEST(SerialPort, OpenSetsRawNineSixHundredEightNOneAndCloseRestores) {
    TTestPty pty;
    // A distinctive line before the port is opened: 4800 baud, 7 data bits, echo and line editing.
    termios before = LineOf(pty);
    cfsetispeed(&before, B4800);
    cfsetospeed(&before, B4800);
    before.c_cflag = (before.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | CSTOPB;
    before.c_lflag |= ECHO | ICANON;
    before.c_oflag |= OPOST;
    ASSERT_EQ(::tcsetattr(pty.master, TCSANOW, &before), 0);
    before = LineOf(pty);

    SerialPort port;
    ASSERT_EQ(port.Open(pty.path), SerialPort::Success);
    const termios open = LineOf(pty);
    EXPECT_EQ(cfgetospeed(&open), B9600);
    EXPECT_EQ(cfgetispeed(&open), B9600);
    EXPECT_EQ(open.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(open.c_cflag & (CSTOPB | PARENB | CRTSCTS), 0u);
    EXPECT_EQ(open.c_lflag & (ECHO | ICANON | ISIG), 0u);
    EXPECT_EQ(open.c_oflag & OPOST, 0u);
    EXPECT_EQ(open.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);

    ASSERT_EQ(port.Configure(19200, 8, 2, 0), SerialPort::Success);
    const termios changed = LineOf(pty);
    EXPECT_EQ(cfgetospeed(&changed), B19200);
    EXPECT_NE(changed.c_cflag & CSTOPB, 0u);

    port.Close();
    EXPECT_TRUE(SameSettings(LineOf(pty), before));
}

TEST(SerialPort, RefusedConfigurationsLeaveTheLineAsItWas) {
    TTestPty pty;
    SerialPort port;
    ASSERT_EQ(port.Open(pty.path), SerialPort::Success);
    ASSERT_EQ(port.Configure(19200, 8, 2, 0), SerialPort::Success);
    const termios good = LineOf(pty);
    EXPECT_EQ(port.Configure(9600, 9, 1, 0), SerialPort::UnsupportedSetting);
    EXPECT_EQ(port.Configure(9600, 8, 3, 0), SerialPort::UnsupportedSetting);
    EXPECT_EQ(port.Configure(9600, 8, 1, 3), SerialPort::UnsupportedSetting);
    EXPECT_EQ(port.Configure(9600, 8, 1, -1), SerialPort::UnsupportedSetting);
    EXPECT_EQ(port.Configure(12345, 8, 1, 0), SerialPort::UnsupportedSetting);
    EXPECT_TRUE(SameSettings(LineOf(pty), good));
}

TEST(SerialPort, ReadsAndWritesWholeBuffers) {
    TTestPty pty;
    SerialPort port;
    ASSERT_EQ(port.Open(pty.path), SerialPort::Success);
    // Bytes a cooked line would mangle (CR, LF, XON, XOFF, 0xFF) pass unchanged both ways.
    const std::vector<uint8_t> bytes = {0x01, 0x0D, 0x0A, 0x11, 0x13, 0x00, 0xFF, 0x7F};
    ASSERT_EQ(port.Write(bytes.data(), 8, 100), SerialPort::Success);
    EXPECT_EQ(port.Flush(), SerialPort::Success);
    EXPECT_EQ(pty.Receive(8, 1000), bytes);

    pty.Send(bytes);
    std::vector<uint8_t> in(8);
    ASSERT_EQ(port.Read(in.data(), 8, 1000), SerialPort::Success);
    EXPECT_EQ(in, bytes);

    // Purge drops what was received but not read.
    // The three bytes travel together: once the first is read, the rest are waiting.
    pty.Send({1, 2, 3});
    ASSERT_EQ(port.Read(in.data(), 1, 1000), SerialPort::Success);
    while (port.QuietMs() < 50)
        std::this_thread::sleep_for(milliseconds(1));
    EXPECT_EQ(port.Purge(), SerialPort::Success);
    EXPECT_LT(port.QuietMs(), 50) << "bytes dropped unread were on the line all the same";
    EXPECT_EQ(port.Read(in.data(), 1, 20), SerialPort::Timeout);

    // What was written and flushed has left: a purge right after it (the next exchange after a
    // broadcast) must not take it back off the line before the far end reads it.
    ASSERT_EQ(port.Write(bytes.data(), 8, 100), SerialPort::Success);
    EXPECT_EQ(port.Flush(), SerialPort::Success);
    EXPECT_EQ(port.Purge(), SerialPort::Success);
    port.Close();
    EXPECT_EQ(pty.Receive(8, 1000), bytes);
}

TEST(SerialPort, TimeOutsAreTotalFromTheStartOfTheCall) {
    TTestPty pty;
    SerialPort port;
    ASSERT_EQ(port.Open(pty.path), SerialPort::Success);
    uint8_t in[16] = {};

    // A quiet line: a 5 ms read ends after about 5 ms.
    auto start = Clock::now();
    EXPECT_EQ(port.Read(in, 1, 5), SerialPort::Timeout);
    EXPECT_GE(Since(start), milliseconds(5));
    EXPECT_LT(Since(start), milliseconds(150));
    // It ended on a timer, which is not let run late: every request waits for one.
    EXPECT_EQ(::prctl(PR_GET_TIMERSLACK), 1);

    // Three of five bytes: a time-out after the full time, with the three bytes in the buffer.
    pty.Send({0xA1, 0xA2, 0xA3});
    start = Clock::now();
    EXPECT_EQ(port.Read(in, 5, 200), SerialPort::Timeout);
    EXPECT_GE(Since(start), milliseconds(200));
    EXPECT_LT(Since(start), milliseconds(450));
    EXPECT_EQ(in[0], 0xA1);
    EXPECT_EQ(in[2], 0xA3);

    // Bytes that keep trickling in do not stretch the time-out: there is no gap time-out.
    std::thread trickle([&pty] {
        for (int i = 0; i < 8; ++i) {
            std::this_thread::sleep_for(milliseconds(40));
            pty.Send({static_cast<uint8_t>(i)});
        }
    });
    start = Clock::now();
    EXPECT_EQ(port.Read(in, 16, 150), SerialPort::Timeout);
    const milliseconds took = Since(start);
    trickle.join();
    // Restarting the time-out with every byte would end only after 8 x 40 + 150 ms.
    EXPECT_GE(took, milliseconds(150));
    EXPECT_LT(took, milliseconds(400));
}

TEST(SerialPort, WriteTimesOutWhenTheLineDoesNotTakeTheBytes) {
    TTestPty pty; // nobody reads the far side: the terminal's buffers fill up
    SerialPort port;
    ASSERT_EQ(port.Open(pty.path), SerialPort::Success);
    const std::vector<uint8_t> big(1 << 20, 0x55);
    const auto start = Clock::now();
    EXPECT_EQ(port.Write(big.data(), static_cast<int32_t>(big.size()), 100), SerialPort::Timeout);
    EXPECT_GE(Since(start), milliseconds(100));
    EXPECT_LT(Since(start), milliseconds(1000));
}

TEST(SerialPort, DeadLineEndsInAnErrorAtOnce) {
    TTestPty pty;
    SerialPort port;
    ASSERT_EQ(port.Open(pty.path), SerialPort::Success);
    pty.CloseMaster();
    uint8_t in[5];
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(in, 5, 2000), SerialPort::Timeout);
    EXPECT_EQ(port.Write(in, 5, 2000), SerialPort::Timeout);
    EXPECT_LT(Since(start), milliseconds(1000));
    port.Close();
}

TEST(SerialPort, ComNamesResolveThroughTheUserSettings) {
    EXPECT_EQ(SerialPort::ResolvePortName("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(SerialPort::ResolvePortName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(SerialPort::ResolvePortName("COM12"), "/dev/ttyS11");
    EXPECT_EQ(SerialPort::ResolvePortName("COM0"), "COM0");
    QSettings settings(QStringLiteral("Roduzede"), QStringLiteral("Dezadizi Config Manager"));
    settings.setValue(QStringLiteral("Ports/COM37"), QStringLiteral("/dev/ttyUSB3"));
    settings.sync();
    EXPECT_EQ(SerialPort::ResolvePortName("COM37"), "/dev/ttyUSB3");
    EXPECT_EQ(SerialPort::ResolvePortName("COM38"), "/dev/ttyS37");
    settings.remove(QStringLiteral("Ports/COM37"));
    settings.sync();

    // A mapped name opens the mapped line.
    TTestPty pty;
    settings.setValue(QStringLiteral("Ports/COM39"), QString::fromStdString(pty.path));
    settings.sync();
    SerialPort port;
    EXPECT_EQ(port.Open("COM39"), SerialPort::Success);
    settings.remove(QStringLiteral("Ports/COM39"));
    settings.sync();
}
