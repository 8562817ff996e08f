// The real QSerialPort against modsim on a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QTest>
#include <filesystem>

#include "e2e_support.h"
#include "qt_serial_port.h"
#include "recv_profile.h"
#include "send_profile.h"

namespace {

using e2e::ModSim;
using e2e::Session;
using e2e::WaitFor;

const window::ToolProfile& Profile(const std::string& tool) {
    return tool == "recvsetup" ? RecvSetupProfile() : SendSetupProfile();
}
std::string Kind(const std::string& tool) {
    return tool == "recvsetup" ? "rx" : "tx";
}

class SerialLink : public ::testing::TestWithParam<std::string> {
  protected:
    void TearDown() override { std::filesystem::remove_all(folder); }
    std::string folder = e2e::TempFolder();
};
INSTANTIATE_TEST_SUITE_P(Tools, SerialLink, ::testing::Values("recvsetup", "sendsetup"));

TEST_P(SerialLink, DiscoveryListsTheLinkedPortAndOpeningClearsTheWindow) {
    ModSim sim(folder, Kind(GetParam()), {}, 7);
    Session s(Profile(GetParam()), folder);
    s.Start();
    auto& m = s.Model();
    const auto& items = m.Combo1.items;
    EXPECT_NE(std::find(items.begin(), items.end(), "COM7"), items.end());

    m.P_Message.text = "stale";
    m.Version.text = "R0.00";
    s.SetText("Combo1", "COM7");
    s.Click("ComStart");
    EXPECT_TRUE(s.Port().IsOpen());
    EXPECT_EQ(m.ComStart.text, "Close");
    EXPECT_EQ(m.P_Message.text, "");
    EXPECT_EQ(m.Version.text, "");
    EXPECT_TRUE(m.GetInfoSW.enabled);
    EXPECT_FALSE(m.ChWriteSW.enabled);
    EXPECT_FALSE(m.Combo1.enabled);

    s.Click("ComStart");
    EXPECT_FALSE(s.Port().IsOpen());
    EXPECT_EQ(m.ComStart.text, "Open");
}

TEST_P(SerialLink, TheIdentityReadPutsExactBytesOnTheWire) {
    ModSim sim(folder, Kind(GetParam()));
    Session s(Profile(GetParam()), folder);
    s.Start();
    s.SetText("Combo1", "COM1");
    s.Click("ComStart");
    ASSERT_TRUE(s.Port().IsOpen()) << s.Model().P_Message.toolTip;
    s.Click("GetInfoSW");
    auto& m = s.Model();
    ASSERT_TRUE(WaitFor([&] { return m.GetInfoSW.enabled; }));
    EXPECT_EQ(sim.Recorded(), std::string("\x80/V\r/D\r"));
    EXPECT_EQ(m.Version.text, GetParam() == "recvsetup" ? "R1.05" : "T2.10");
    EXPECT_EQ(m.Serial.text, "00074565");
    EXPECT_EQ(m.C_Message.text, "");
    EXPECT_TRUE(m.ChWriteSW.enabled);
}

TEST_P(SerialLink, APortThatVanishesRunsTheRecoveryWithoutSpinning) {
    auto sim = std::make_unique<ModSim>(folder, Kind(GetParam()));
    Session s(Profile(GetParam()), folder);
    s.Start();
    s.SetText("Combo1", "COM1");
    s.Click("ComStart");
    ASSERT_TRUE(s.Port().IsOpen());
    auto& m = s.Model();
    m.EnableModuleButtons();

    sim->Kill();  // the cable is pulled
    // Shown at once, with nothing running and no click needed.
    ASSERT_TRUE(WaitFor([&] { return m.ComStart.text == "Open"; }, 2000));
    EXPECT_EQ(m.P_Message.text, "Com port Error!");
    EXPECT_NE(m.P_Message.toolTip, "");
    EXPECT_FALSE(m.GetInfoSW.enabled);
    EXPECT_FALSE(m.ChWriteSW.enabled);
    EXPECT_TRUE(m.Combo1.enabled);
    EXPECT_EQ(m.Combo1.back, window::Colour::Normal);
    EXPECT_FALSE(s.Port().IsOpen());
    // A dead pseudo-terminal keeps reporting errors unless the port lets go
    // of it: a second of the event loop must cost next to no CPU.
    const double before = e2e::ProcessCpuSeconds();
    QTest::qWait(1000);
    const double used = e2e::ProcessCpuSeconds() - before;
    EXPECT_LT(used, 0.2) << "CPU seconds used in one idle second";
    EXPECT_EQ(m.P_Message.text, "Com port Error!");
}

// An adapter pulled and plugged in again: the recovery runs by itself, and
// the port opens again once the device is back.
TEST_P(SerialLink, AVanishedDeviceThatComesBackCanBeOpenedAgain) {
    // COM5 is /dev/ttyUSB0 without its link: no stand-in device while it
    // is away.
    ModSim sim(folder, Kind(GetParam()), {"--vanish-after", "300", "--relink-after", "700"}, 5);
    Session s(Profile(GetParam()), folder);
    s.Start();
    auto& m = s.Model();
    s.SetText("Combo1", "COM5");
    s.Click("ComStart");
    ASSERT_TRUE(s.Port().IsOpen());
    ASSERT_TRUE(WaitFor([&] { return m.ComStart.text == "Open"; }, 3000));
    EXPECT_EQ(m.P_Message.text, "Com port Error!");
    s.Click("ComStart");
    EXPECT_FALSE(s.Port().IsOpen()) << "the device is not back yet";
    ASSERT_TRUE(WaitFor(
        [&] {
            s.Click("ComStart");
            return s.Port().IsOpen();
        },
        3000));
    EXPECT_EQ(m.P_Message.text, "");
    s.Click("GetInfoSW");
    ASSERT_TRUE(WaitFor([&] { return m.GetInfoSW.enabled; }));
    EXPECT_EQ(m.Serial.text, "00074565");
}

// An adapter plugged in after start-up is offered when the list drops down,
// with the device it opens in its tooltip, and is gone once unplugged. What
// the operator typed stays.
TEST_P(SerialLink, ThePortListFollowsDevicesWhenItDropsDown) {
    Session s(Profile(GetParam()), folder);
    s.Start();
    auto* combo = static_cast<QComboBox*>(s.Widget("Combo1"));
    const auto listed = [combo](const QString& name) { return combo->findText(name); };
    ASSERT_EQ(listed("COM9"), -1);
    s.SetText("Combo1", "COM200");

    auto sim = std::make_unique<ModSim>(folder, Kind(GetParam()), std::vector<std::string>{}, 9);
    combo->showPopup();
    const int at = listed("COM9");
    ASSERT_GE(at, 0);
    const QString tip = combo->itemData(at, Qt::ToolTipRole).toString();
    const QString device =
        QFileInfo(QString::fromStdString(folder + "/ports/COM9")).canonicalFilePath();
    EXPECT_TRUE(tip.startsWith(QStringLiteral("Device: ") + device)) << tip.toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("Linked as ports/COM9 -> "))) << tip.toStdString();
    combo->hidePopup();
    EXPECT_EQ(combo->currentText().toStdString(), "COM200");

    sim->Kill();
    combo->showPopup();
    EXPECT_EQ(listed("COM9"), -1);
    combo->hidePopup();
    EXPECT_EQ(s.Model().Combo1.text, "COM200");
}

TEST_P(SerialLink, NamesThatAreNoPortAndBusyPortsFailToOpen) {
    ModSim sim(folder, Kind(GetParam()));
    Session s(Profile(GetParam()), folder);
    s.Start();
    const std::string message = Profile(GetParam()).comNotOpenMessage;
    for (const char* text : {"COM300", "foo", "com1", ""}) {
        s.Model().P_Message.text.clear();
        s.SetText("Combo1", text);
        s.Click("ComStart");
        EXPECT_FALSE(s.Port().IsOpen()) << text;
        EXPECT_EQ(s.Model().P_Message.text, message) << text;
        EXPECT_EQ(s.Model().ComStart.text, "Open") << text;
    }

    // A port nobody serves: the reason is in the status line's tooltip.
    s.SetText("Combo1", "COM250");
    s.Click("ComStart");
    EXPECT_EQ(s.Model().P_Message.text, message);
    EXPECT_NE(s.Model().P_Message.toolTip, "");

    // A port another program holds.
    Session other(Profile(GetParam()), folder);
    other.Start();
    other.SetText("Combo1", "COM1");
    other.Click("ComStart");
    ASSERT_TRUE(other.Port().IsOpen()) << other.Model().P_Message.toolTip;
    s.SetText("Combo1", "COM1");
    s.Click("ComStart");
    EXPECT_FALSE(s.Port().IsOpen());
    EXPECT_EQ(s.Model().P_Message.text, message);
}

// A hub that drops takes every adapter on it at once; each port notices by
// whatever it did next. The reason must read the same for all of them.
TEST(LostDevice, GivesOneReasonHoweverItIsNoticed) {
    const std::string folder = e2e::TempFolder();
    for (const std::string first : {"a modem line", "a write", "the event loop"}) {
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
        const std::string tty = ptsname(master);
        wire::QtSerialPort port(store::FilePlaces(folder, folder).ports);
        port.SetDeviceOverride(tty);
        ASSERT_TRUE(port.Open()) << port.LastError();
        int lost = 0;
        port.SetReceiveHandler([&lost](wire::CommEvent e) { lost += e == wire::CommEvent::Lost; });
        close(master);  // the hub drops
        if (first == "a modem line") {
            EXPECT_FALSE(port.SetRts(true));
        } else if (first == "a write") {
            EXPECT_FALSE(port.Write("/V\r"));
        }
        EXPECT_TRUE(WaitFor([&] { return lost > 0; }, 2000)) << first;
        EXPECT_EQ(port.LastError(), tty + ": the device is gone; plug the adapter in again")
            << first;
        EXPECT_FALSE(port.SetRts(false));
        EXPECT_FALSE(port.Write("/V\r"));
        EXPECT_EQ(port.LastError(), tty + ": the device is gone; plug the adapter in again")
            << first << ", asked again";
        QTest::qWait(50);
        EXPECT_EQ(lost, 1) << first;
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
