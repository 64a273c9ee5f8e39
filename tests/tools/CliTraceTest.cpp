// --trace against an independent unit: a libmodbus RTU slave on a pseudo-terminal, which logs
// each request it receives.
#include "modbus/TestPty.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <mutex>
#include <pugixml.hpp>
#include <regex>
#include <sstream>
#include <termios.h>
#include <thread>
#include <utility>

namespace {

// Holding registers up to the commit's (9999), the device id 17 in input register 4.
class TLibmodbusUnit {
public:
    TLibmodbusUnit() {
        FMap = modbus_mapping_new(10000, 0, 10000, 10);
        FMap->tab_input_registers[3] = 17;
        FContext = modbus_new_rtu("/dev/ptmx", 9600, 'N', 8, 1);
        modbus_set_slave(FContext, 1);
        modbus_set_socket(FContext, FPty.master);
        modbus_set_indication_timeout(FContext, 0, 20000);
        // The line's far end stays open between the commands' runs, so the unit waits on its
        // time-out instead of reading a hung-up line over and over.
        FLine = ::open(FPty.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios raw{};
        ::tcgetattr(FLine, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(FLine, TCSANOW, &raw);
        FServer = std::thread([this] { Serve(); });
    }
    ~TLibmodbusUnit() {
        FStop = true;
        FServer.join();
        ::close(FLine);
        modbus_free(FContext); // the descriptor belongs to the pty
        modbus_mapping_free(FMap);
    }
    const std::string& Path() const { return FPty.path; }
    // "Function reference" of each request received, in order, since the last call.
    std::vector<std::string> TakeRequests() {
        std::lock_guard<std::mutex> lock(FLock);
        return std::exchange(FRequests, {});
    }

private:
    void Serve() {
        // Named here, not by the code under test.
        const char* const names[] = {"?",
                                     "Read Coils",
                                     "?",
                                     "Read Holding Registers",
                                     "Read Input Registers",
                                     "Write Single Coil",
                                     "Write Single Register"};
        uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        while (!FStop) {
            const int length = modbus_receive(FContext, query);
            if (length <= 0)
                continue;
            std::lock_guard<std::mutex> lock(FLock);
            FRequests.push_back(std::string(names[query[1] <= 6 ? query[1] : 0]) + " " +
                                std::to_string((query[2] << 8 | query[3]) + 1));
            modbus_reply(FContext, query, length, FMap);
        }
    }

    TTestPty FPty;
    int FLine = -1;
    modbus_mapping_t* FMap = nullptr;
    modbus_t* FContext = nullptr;
    std::atomic<bool> FStop{false};
    std::mutex FLock;
    std::vector<std::string> FRequests;
    std::thread FServer;
};

// "Function reference" of each request line of a trace file; the count of reply lines.
std::vector<std::string> TracedRequests(const std::string& text, int* replies) {
    static const std::regex request(R"(^\d+ us sent +[0-9a-f ]+ \| slave 1, ([A-Za-z ]+), reference (\d+) )");
    std::vector<std::string> requests;
    std::istringstream lines(text);
    *replies = 0;
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_search(line, match, request))
            requests.push_back(match[1].str() + " " + match[2].str());
        else if (line.find(" us received ") != std::string::npos && line.find("CRC ok") != std::string::npos)
            ++*replies;
        else
            ADD_FAILURE() << "not a request nor a sound reply: " << line;
    }
    return requests;
}

} // namespace

TEST(CliTrace, AChangeOnlyWriteLogsEachRequestTheUnitReceivedWithItsReply) {
    TTempDir dir;
    TLibmodbusUnit unit;
    const std::string file = dir.Path("unit.rur");
    ASSERT_EQ(RunBuiltCli({"defaults", "id:17", "-o", file}).code, 0);
    const TCliRun first = RunBuiltCli({"write", unit.Path(), file});
    ASSERT_EQ(first.code, 0) << first.err;
    {
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_file(file.c_str()));
        doc.select_node("//setting[@name='Night Setback Mode']").node().attribute("value") = 7;
        doc.select_node("//setting[@name='Night Setback']").node().attribute("value") = 0;
        ASSERT_TRUE(doc.save_file(file.c_str()));
    }

    // A file that cannot be opened stops the command before the unit is asked anything.
    unit.TakeRequests();
    const std::string nowhere = dir.Path("missing/trace.txt");
    const TCliRun refused = RunBuiltCli({"write", unit.Path(), file, "--trace", nowhere});
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.err, "Cannot open the trace file " + nowhere + ": " + std::strerror(ENOENT) + "\n");
    EXPECT_TRUE(unit.TakeRequests().empty());

    const std::string trace = dir.Path("trace.txt");
    const TCliRun written = RunBuiltCli({"write", unit.Path(), file, "--trace", trace});
    ASSERT_EQ(written.code, 0) << written.err;
    const std::vector<std::string> received = unit.TakeRequests();
    int replies = 0;
    const std::string text = ReadFileText(trace);
    EXPECT_EQ(TracedRequests(text, &replies), received);
    EXPECT_EQ(replies, static_cast<int>(received.size()));
    EXPECT_NE(std::find(received.begin(), received.end(), "Write Single Register 9999"), received.end());
    EXPECT_NE(text.find(" sent     01 06 27 0e 00 7b a2 9e | slave 1, Write Single Register, reference 9999 "
                        "(wire 9998), value 123, CRC ok\n"),
              std::string::npos)
        << text;
}
