// The Modbus door with Debian's pymodbus client playing the fixture's PLC.

#include <gtest/gtest.h>

#include "doors_test_support.h"
#include "fake_station.h"
#include "mosquitto_broker.h"
#include "open_doors.h"

namespace {

using doorstest::Open;
using doorstest::Plc;

}  // namespace

TEST(ModbusDoor, PassInputCountsAndPauseCoil) {
    doors::Hub hub;
    FakeStationOptions o;
    o.tickMs = 20;
    o.result = [](int socket, int k) { return socket == 2 && k == 0 ? "fail" : "pass"; };
    FakeStation station(hub, o);
    const int port = MosquittoBroker::FreePort();
    std::string error;
    auto doors = Open(hub, {"--modbus", "127.0.0.1:" + std::to_string(port)}, &error);
    ASSERT_TRUE(doors) << error;
    station.Start();
    const std::string out =
        Plc(port,
            "print('pass1', wait(1, 1))\n"
            "print('fail2', wait(10, 1))\n"
            "r = c.read_input_registers(0, 7, slave=1).registers\n"
            "print('passed', (r[0] << 16) + r[1] > 0, 'failed', r[3])\n"
            "print('time1', c.read_input_registers(100, 1, slave=1).registers[0])\n"
            "c.write_coil(0, True, slave=1)\n"
            "print('paused', wait(7, 1))\n"
            "print('coil0', int(c.read_coils(0, 1, slave=1).bits[0]))\n"
            "print('beyond', c.read_holding_registers(0, 1, slave=1).isError())\n");
    EXPECT_NE(out.find("pass1 True\n"), std::string::npos) << out;
    EXPECT_NE(out.find("fail2 True\n"), std::string::npos) << out;
    EXPECT_NE(out.find("passed True failed 1\n"), std::string::npos) << out;
    // From its row to PASS an attempt takes 16 ticks of 20 ms: 3 units of 100 ms.
    EXPECT_NE(out.find("time1 3\n"), std::string::npos) << out;
    EXPECT_NE(out.find("paused True\ncoil0 1\n"), std::string::npos) << out;
    EXPECT_NE(out.find("beyond True\n"), std::string::npos) << out;
    EXPECT_EQ(station.State(), doors::StationState::Paused);
    Plc(port, "c.write_coil(0, False, slave=1)\nwait(7, 0)\n");
    EXPECT_EQ(station.State(), doors::StationState::Production);
    station.Stop();
}

TEST(ModbusDoor, PlcTriggerStartsOneSocket) {
    doors::Hub hub;
    FakeStationOptions o;
    o.tickMs = 20;
    o.trigger = true;
    FakeStation station(hub, o);
    const int port = MosquittoBroker::FreePort();
    std::string error;
    auto doors =
        Open(hub, {"--modbus", "127.0.0.1:" + std::to_string(port), "--trigger", "plc"}, &error);
    ASSERT_TRUE(doors) << error;
    station.Start();
    const std::string out = Plc(port,
                                "time.sleep(0.3)\n"
                                "print('idle', bit(16), bit(0), bit(8))\n"
                                "c.write_coil(3, True, slave=1)\n"
                                "print('busy', wait(16, 1))\n"
                                "print('pass', wait(17, 1))\n"
                                "print('cleared', int(c.read_coils(3, 1, slave=1).bits[0]))\n"
                                "print('others', bit(0), bit(1), bit(8), bit(9))\n");
    EXPECT_NE(out.find("idle 0 0 0\n"), std::string::npos) << out;
    EXPECT_NE(out.find("busy True\npass True\ncleared 0\n"), std::string::npos) << out;
    EXPECT_NE(out.find("others 0 0 0 0\n"), std::string::npos) << out;
    EXPECT_EQ(station.Finished().size(), 1u);
    station.Stop();
}

TEST(ModbusDoor, OnlyTheAllowedMayConnect) {
    doors::Hub hub;
    FakeStation station(hub, {});
    const int port = MosquittoBroker::FreePort();
    std::string error;
    EXPECT_FALSE(Open(hub, {"--modbus", "0.0.0.0:" + std::to_string(port)}, &error));
    EXPECT_NE(error.find("--modbus-allow"), std::string::npos) << error;
    auto doors =
        Open(hub, {"--modbus", "0.0.0.0:" + std::to_string(port), "--modbus-allow", "192.0.2.0/24"},
             &error);
    ASSERT_TRUE(doors) << error;
    const std::string out = Plc(port, "print('read', bit(0))\n");
    EXPECT_EQ(out.find("read 0"), std::string::npos) << out;
}
