// The simulator program end to end: our master and a libmodbus master against it on its
// pseudo-terminal, its faults as the master reports them, and its life cycle.
#include "SimProcess.h"

#include "base/Csv.h"
#include "modbus/MbusRtuMasterProtocol.h"

#include <QFileInfo>
#include <QSettings>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <modbus/modbus.h>

namespace {

void OpenMaster(MbusRtuMasterProtocol& master, const std::string& port, int32_t retries, int32_t timeoutMs) {
    ASSERT_EQ(master.SetRetryCount(retries), 0);
    master.SetTimeout(timeoutMs);
    ASSERT_EQ(master.Open(port, 9600, 8, 1, 0), 0);
}

QString SettingsFile(const TTempDir& home) {
    return QString::fromStdString(home.Path("Roduzede/Dezadizi Config Manager.conf"));
}

} // namespace

TEST(SimProgram, EachFaultGivesTheMastersErrorCode) {
    struct Case {
        const char* fault;
        int32_t code;
        int attempts; // requests the unit saw: line faults are repeated once
    };
    const Case cases[] = {
        {"no-reply", FTALK_REPLY_TIMEOUT_ERROR, 2},    {"bad-crc", FTALK_CHECKSUM_ERROR, 2},
        {"wrong-slave", FTALK_INVALID_FRAME_ERROR, 2}, {"exception", FTALK_MBUS_SLAVE_FAILURE_RESPONSE, 1},
        {"garbage", FTALK_CHECKSUM_ERROR, 2},          {"truncated", FTALK_REPLY_TIMEOUT_ERROR, 2},
        {"slow", FTALK_REPLY_TIMEOUT_ERROR, 0}, // after both tries and the quiet time-out between
    };
    TTempDir home;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        TSimProcess sim({"--port", "COM5", "--seed", "3", "--slow-ms", "1200", "--fault",
                         QString::fromLatin1(c.fault) + "=1"},
                        home.Path(""));
        ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
        MbusRtuMasterProtocol master;
        OpenMaster(master, sim.Port(), 1, 250);
        int16_t values[3] = {1, 1, 1};
        EXPECT_EQ(master.ReadHoldingRegisters(1, 1, values, 3), c.code);
        EXPECT_EQ(values[0], 0);
        master.Close();
        EXPECT_EQ(sim.Stop(), 0) << sim.Errors();
        if (c.attempts > 0) {
            EXPECT_EQ(sim.CountLines(std::string("fault: ") + c.fault), c.attempts) << sim.Output();
        }
    }
}

TEST(SimProgram, ServesTheMasterPublishesItselfAndEndsCleanly) {
    TTempDir home;
    const std::string link = home.Path("unit-line");
    const std::string trace = home.Path("trace.csv");
    TSimProcess sim({"--port", "COM9", "--link", QString::fromStdString(link), "--device-id", "18",
                     "--verbose", "--trace", QString::fromStdString(trace)},
                    home.Path(""));
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    EXPECT_EQ(
        QSettings(SettingsFile(home), QSettings::IniFormat).value("Ports/COM9").toString().toStdString(),
        sim.Port());
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.Port());

    MbusRtuMasterProtocol master;
    OpenMaster(master, link, 1, 500);
    int16_t deviceId = 0;
    EXPECT_EQ(master.ReadInputRegisters(1, 4, &deviceId, 1), 0);
    EXPECT_EQ(deviceId, 18);
    EXPECT_EQ(master.WriteSingleRegister(1, 300, -300), 0);
    EXPECT_EQ(master.WriteSingleCoil(1, 65536, true), 0);
    int16_t reg = 0;
    int32_t coils[2] = {};
    EXPECT_EQ(master.ReadHoldingRegisters(1, 300, &reg, 1), 0);
    EXPECT_EQ(reg, -300);
    EXPECT_EQ(master.ReadCoils(1, 65535, coils, 2), 0);
    EXPECT_EQ(coils[0], 0);
    EXPECT_EQ(coils[1], 1);
    // The last reference is legal for the master; running past it is the unit's illegal address.
    int16_t pair[2] = {};
    EXPECT_EQ(master.ReadHoldingRegisters(1, 65536, pair, 2), FTALK_MBUS_ILLEGAL_ADDRESS_RESPONSE);
    EXPECT_EQ(master.WriteSingleRegister(1, 9999, 123), 0);
    // A broadcast is carried out silently; the unit answers the next request as usual.
    EXPECT_EQ(master.WriteSingleRegister(0, 301, 77), 0);
    EXPECT_EQ(master.ReadHoldingRegisters(1, 301, &reg, 1), 0);
    EXPECT_EQ(reg, 77);
    master.Close();

    EXPECT_EQ(sim.Stop(), 0) << sim.Errors();
    EXPECT_EQ(sim.CountLines("commit (123 to holding register 9999)"), 1);
    // The unit's side: every request received (the broadcast too), every reply sent.
    const auto rows = ParseCsv(ReadFileText(trace));
    ASSERT_EQ(rows.size(), 1u + 9u + 8u);
    std::map<std::string, int> directions;
    int commits = 0;
    for (size_t i = 1; i < rows.size(); ++i) {
        ++directions[rows[i].at(2)];
        commits += rows[i].at(2) == "received" && rows[i].at(8) == "Write Single Register" &&
                   rows[i].at(9) == "9999" && rows[i].at(10) == "9998";
    }
    EXPECT_EQ(directions, (std::map<std::string, int>{{"received", 9}, {"sent", 8}}));
    EXPECT_EQ(commits, 1);
    EXPECT_FALSE(QSettings(SettingsFile(home), QSettings::IniFormat).contains("Ports/COM9"));
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST(SimProgram, LeavesAPortNameThatAnotherSimulatorTookOver) {
    TTempDir home;
    TSimProcess first({"--port", "COM4"}, home.Path(""));
    ASSERT_FALSE(first.Port().empty());
    TSimProcess second({"--port", "COM4"}, home.Path(""));
    ASSERT_FALSE(second.Port().empty());
    EXPECT_EQ(first.Stop(), 0) << first.Errors();
    EXPECT_EQ(
        QSettings(SettingsFile(home), QSettings::IniFormat).value("Ports/COM4").toString().toStdString(),
        second.Port());
    EXPECT_EQ(second.Stop(), 0) << second.Errors();
    EXPECT_FALSE(QSettings(SettingsFile(home), QSettings::IniFormat).contains("Ports/COM4"));
}

TEST(SimProgram, StateFileKeepsTheImageAcrossRuns) {
    TTempDir home;
    const QString state = QString::fromStdString(home.Path("unit.state"));
    {
        TSimProcess sim({"--state", state}, home.Path(""));
        ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
        MbusRtuMasterProtocol master;
        OpenMaster(master, sim.Port(), 1, 500);
        EXPECT_EQ(master.WriteSingleRegister(1, 100, 4242), 0);
        EXPECT_EQ(master.WriteSingleCoil(1, 5, true), 0);
        master.Close();
        EXPECT_EQ(sim.Stop(), 0) << sim.Errors();
    }
    EXPECT_TRUE(QFileInfo::exists(state));
    TSimProcess sim({"--state", state}, home.Path(""));
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    MbusRtuMasterProtocol master;
    OpenMaster(master, sim.Port(), 1, 500);
    int16_t reg = 0;
    int32_t coil = 0;
    EXPECT_EQ(master.ReadHoldingRegisters(1, 100, &reg, 1), 0);
    EXPECT_EQ(reg, 4242);
    EXPECT_EQ(master.ReadCoils(1, 5, &coil, 1), 0);
    EXPECT_EQ(coil, 1);
}

TEST(SimProgram, AFreshUnitOfANamedTypeHoldsItsFactoryDefaults) {
    TTempDir home;
    const QString definitions = QString::fromStdString(SourcePath("data/Devices.xml"));
    const QString state = QString::fromStdString(home.Path("unit.state"));
    struct TRead {
        int16_t pressure = -1; // "Duct Static Pressure Setpoint", default 250 Pa
        int16_t maxSpeed = -1; // "Supply Fan Maximum Speed", default 90 %
        int32_t frost = -1;    // "Frost Protection", checked
    };
    const auto readUnit = [&](const QStringList& extra) {
        TSimProcess sim(QStringList{"--device", "Z7E AHU Interface", "-d", definitions} + extra,
                        home.Path(""));
        TRead read;
        if (sim.Port().empty()) {
            ADD_FAILURE() << sim.Errors();
            return read;
        }
        MbusRtuMasterProtocol master;
        OpenMaster(master, sim.Port(), 1, 500);
        EXPECT_EQ(master.ReadHoldingRegisters(1, 115, &read.pressure, 1), 0);
        EXPECT_EQ(master.ReadHoldingRegisters(1, 117, &read.maxSpeed, 1), 0);
        EXPECT_EQ(master.ReadCoils(1, 1, &read.frost, 1), 0);
        if (!extra.contains("--blank") && extra.contains("--state")) {
            EXPECT_EQ(master.WriteSingleRegister(1, 115, 400), 0);
        }
        master.Close();
        EXPECT_EQ(sim.Stop(), 0) << sim.Errors();
        return read;
    };
    TRead fresh = readUnit({});
    EXPECT_EQ(fresh.pressure, 250);
    EXPECT_EQ(fresh.maxSpeed, 90);
    EXPECT_EQ(fresh.frost, 1);
    TRead blank = readUnit({"--blank"});
    EXPECT_EQ(blank.pressure, 0);
    EXPECT_EQ(blank.maxSpeed, 0);
    EXPECT_EQ(blank.frost, 0);
    // A kept state wins over the defaults: the first run starts from them and saves a change.
    TRead first = readUnit({"--state", state});
    EXPECT_EQ(first.pressure, 250);
    TRead kept = readUnit({"--state", state});
    EXPECT_EQ(kept.pressure, 400);
    EXPECT_EQ(kept.maxSpeed, 90);
}

TEST(SimProgram, DeviceIdFromTheDefinitionFileAndBadOptions) {
    TTempDir home;
    // With -d, and without: then the definition file next to the program is used.
    for (const QStringList& definitions :
         {QStringList{"-d", QString::fromStdString(SourcePath("data/Devices.xml"))}, QStringList{}}) {
        TSimProcess sim(QStringList{"--device", "Z7E VAV Zone Interface"} + definitions, home.Path(""));
        ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
        MbusRtuMasterProtocol master;
        OpenMaster(master, sim.Port(), 1, 500);
        int16_t deviceId = 0;
        EXPECT_EQ(master.ReadInputRegisters(1, 4, &deviceId, 1), 0);
        EXPECT_EQ(deviceId, 19);
    }
    const QStringList bad[] = {
        {"--device", "No Such Device", "-d", QString::fromStdString(SourcePath("data/Devices.xml"))},
        {"--device", "Z7E VAV Zone Interface", "-d", "/nonexistent/Devices.xml"},
        {"--fault", "bogus=1"},
        {"--fault", "bad-crc=2"},
        {"--fault-at", "slow=0"},
        {"--fault-at", "slow"},
        {"--port", "ttyS0"},
        {"--device-id", "70000"},
    };
    for (const QStringList& arguments : bad) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        TSimProcess sim(arguments, home.Path(""));
        EXPECT_TRUE(sim.Port().empty());
        EXPECT_EQ(sim.Stop(), 1);
        EXPECT_FALSE(sim.Errors().empty());
    }
}

TEST(SimProgram, AnswersALibmodbusMaster) {
    TTempDir home;
    TSimProcess sim({"--device-id", "17"}, home.Path(""));
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    modbus_t* ctx = modbus_new_rtu(sim.Port().c_str(), 9600, 'N', 8, 1);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(modbus_connect(ctx), 0) << modbus_strerror(errno);
    modbus_set_response_timeout(ctx, 0, 500000);
    modbus_set_slave(ctx, 1);

    uint16_t id = 0;
    EXPECT_EQ(modbus_read_input_registers(ctx, 3, 1, &id), 1);
    EXPECT_EQ(id, 17);
    EXPECT_EQ(modbus_write_register(ctx, 10, 0xCAFE), 1);
    EXPECT_EQ(modbus_write_bit(ctx, 1999, 1), 1);
    uint16_t regs[125] = {};
    EXPECT_EQ(modbus_read_registers(ctx, 0, 125, regs), 125);
    EXPECT_EQ(regs[10], 0xCAFE);
    uint8_t bits[2000] = {};
    EXPECT_EQ(modbus_read_bits(ctx, 0, 2000, bits), 2000);
    EXPECT_EQ(bits[1999], 1);
    EXPECT_EQ(bits[1998], 0);

    // Exceptions: past the end of the address space, and a function the unit does not have.
    EXPECT_EQ(modbus_read_registers(ctx, 65535, 2, regs), -1);
    EXPECT_EQ(errno, EMBXILADD);
    EXPECT_EQ(modbus_read_input_bits(ctx, 0, 1, bits), -1);
    EXPECT_EQ(errno, EMBXILFUN);
    const uint16_t two[2] = {1, 2};
    EXPECT_EQ(modbus_write_registers(ctx, 0, 2, two), -1);
    EXPECT_EQ(errno, EMBXILFUN);

    // A request for another slave gets no reply, and the next one for us is answered.
    modbus_set_slave(ctx, 2);
    modbus_set_response_timeout(ctx, 0, 100000);
    EXPECT_EQ(modbus_read_registers(ctx, 0, 1, regs), -1);
    modbus_set_slave(ctx, 1);
    modbus_set_response_timeout(ctx, 0, 500000);
    modbus_flush(ctx);
    EXPECT_EQ(modbus_read_registers(ctx, 10, 1, regs), 1);
    EXPECT_EQ(regs[0], 0xCAFE);

    modbus_close(ctx);
    modbus_free(ctx);
    EXPECT_EQ(sim.Stop(), 0) << sim.Errors();
}
