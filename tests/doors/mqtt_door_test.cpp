// The MQTT door with Debian's mosquitto broker and its mosquitto_sub as the
// MES: every attempt arrives, through a broker outage and a restart of the
// station, and a broker that refuses the credentials stops the start.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <fstream>
#include <set>
#include <sstream>

#include "doors_test_support.h"
#include "fake_station.h"
#include "mosquitto_broker.h"
#include "open_doors.h"
#include "scratch_folder.h"

namespace {

// mosquitto_sub with a session the broker keeps, so nothing published while
// it reconnects is lost to it; one "topic payload" line per message.
class Subscriber {
  public:
    Subscriber(int port, const std::string& file) : file_(file) {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_ =
            child::Spawn({"/usr/bin/mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(port),
                          "-t", "line/+/attempt", "-q", "1", "-c", "-i", "mes-test", "-v"},
                         {}, fd);
        ::close(fd);
    }
    ~Subscriber() {
        ::kill(pid_, SIGTERM);
        child::WaitExit(pid_, 5000);
    }
    // (TransactionID, MessageName) of every message, repeats dropped as a
    // consumer would; payloads by attempt id and name.
    std::map<std::pair<std::string, std::string>, QJsonObject> Received() const {
        std::map<std::pair<std::string, std::string>, QJsonObject> out;
        std::ifstream in(file_);
        std::string line;
        while (std::getline(in, line)) {
            const std::size_t sp = line.find(' ');
            if (sp == std::string::npos) continue;
            const QJsonObject o =
                QJsonDocument::fromJson(QByteArray::fromStdString(line.substr(sp + 1))).object();
            out[{o["TransactionID"].toString().toStdString(),
                 o["MessageName"].toString().toStdString()}] = o;
        }
        return out;
    }

  private:
    std::string file_;
    pid_t pid_ = -1;
};

const std::string kStarted = "CFX.Production.WorkStarted";
const std::string kTested = "CFX.Production.TestAndInspection.UnitsTested";

// Every attempt's start and end is there, saying what the station did.
void ExpectAll(const std::vector<record::Attempt>& attempts, const Subscriber& sub) {
    const auto got = sub.Received();
    for (const record::Attempt& a : attempts) {
        const auto s = got.find({a.attemptId, kStarted});
        const auto t = got.find({a.attemptId, kTested});
        ASSERT_NE(s, got.end()) << "no WorkStarted for " << a.attemptId;
        ASSERT_NE(t, got.end()) << "no UnitsTested for " << a.attemptId;
        EXPECT_EQ(s->second["PrimaryIdentifier"].toString().toStdString(), a.serial);
        const QJsonObject unit = t->second["TestedUnits"].toArray()[0].toObject();
        EXPECT_EQ(unit["UnitIdentifier"].toString().toStdString(), a.serial);
        EXPECT_EQ(unit["PositionNumber"].toInt(), a.socket);
        EXPECT_EQ(unit["PositionName"].toString().toStdString(), a.port);
        EXPECT_EQ(unit["Result"].toString().toStdString(), record::ToText(a.result));
        EXPECT_EQ(unit["FailedStep"].toString().toStdString(), record::ToText(a.failedStep));
        EXPECT_EQ(t->second["DurationMs"].toInteger(), a.durationMs);
        EXPECT_EQ(t->second["Operator"].toObject()["OperatorIdentifier"].toString().toStdString(),
                  a.operatorName);
    }
}

std::unique_ptr<doors::Doors> Open(doors::Hub& hub, const std::string& url,
                                   const std::string& outbox, std::string* error,
                                   const std::string& passwordFile = {}) {
    std::vector<std::string> args = {"--mqtt", url, "--mqtt-outbox", outbox};
    if (!passwordFile.empty()) args.insert(args.end(), {"--mqtt-password-file", passwordFile});
    return doorstest::Open(hub, args, error);
}

}  // namespace

TEST(MqttDoor, EveryAttemptArrivesThroughAnOutageAndARestart) {
    MosquittoBroker broker;
    std::string why;
    ASSERT_TRUE(broker.Start(&why)) << why;
    ScratchFolder folder("doors-mqtt");
    const std::string outbox = folder.Path() + "/outbox";
    const std::string url = "mqtt://127.0.0.1:" + std::to_string(broker.Port()) + "/line";
    Subscriber sub(broker.Port(), folder.Path() + "/received");
    ASSERT_TRUE(doorstest::WaitFor(
        [&] {
            return doorstest::Run("grep -c mes-test " + broker.Dir() + "/mosquitto.log").text !=
                   "0\n";
        },
        5000));

    // Four sockets, six attempts each of 2.3 s; socket 3 fails its second.
    std::vector<record::Attempt> attempts;
    {
        doors::Hub hub;
        FakeStationOptions o;
        o.tickMs = 100;
        o.attemptsPerSocket = 6;
        o.result = [](int socket, int k) { return socket == 3 && k == 1 ? "fail" : "pass"; };
        FakeStation station(hub, o);
        std::string error;
        auto doors = Open(hub, url, outbox, &error);
        ASSERT_TRUE(doors) << error;
        station.Start();
        std::this_thread::sleep_for(std::chrono::seconds(3));
        broker.StopServer();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        EXPECT_GT(doors->MqttWaiting(), 0u);
        ASSERT_TRUE(broker.StartServer());
        ASSERT_TRUE(station.WaitDone(20000));
        attempts = station.Finished();
        ASSERT_EQ(attempts.size(), 24u);
        EXPECT_TRUE(doorstest::WaitFor([&] { return doors->MqttWaiting() == 0; }, 15000));
        station.Stop();
    }
    EXPECT_TRUE(doorstest::WaitFor([&] { return sub.Received().size() == 48; }, 10000));
    ExpectAll(attempts, sub);

    // The station ends while the broker is away: the next start sends what
    // waited.
    broker.StopServer();
    std::vector<record::Attempt> later;
    {
        doors::Hub hub;
        FakeStationOptions o;
        o.attemptsPerSocket = 1;
        FakeStation station(hub, o);
        std::string error;
        auto doors = Open(hub, url, outbox, &error);
        ASSERT_TRUE(doors) << error;
        station.Start();
        ASSERT_TRUE(station.WaitDone(10000));
        later = station.Finished();
        station.Stop();
        EXPECT_TRUE(doorstest::WaitFor([&] { return doors->MqttWaiting() == 8; }, 5000));
    }
    ASSERT_TRUE(broker.StartServer());
    {
        doors::Hub hub;
        FakeStation station(hub, {});
        std::string error;
        auto doors = Open(hub, url, outbox, &error);
        ASSERT_TRUE(doors) << error;
        EXPECT_TRUE(doorstest::WaitFor([&] { return doors->MqttWaiting() == 0; }, 10000));
    }
    EXPECT_TRUE(doorstest::WaitFor([&] { return sub.Received().size() == 56; }, 10000));
    ExpectAll(later, sub);
    // The station's last word, retained for whoever asks later.
    const auto status =
        doorstest::Run("mosquitto_sub -h 127.0.0.1 -p " + std::to_string(broker.Port()) +
                       " -t line/L1/status -C 1 -W 5");
    EXPECT_EQ(status.text, "offline\n");
}

TEST(MqttDoor, RefusedCredentialsAreAnErrorAtStart) {
    ScratchFolder folder("doors-mqtt-auth");
    const std::string passwords = folder.Path() + "/passwords";
    ASSERT_EQ(
        doorstest::Run("mosquitto_passwd -b -c " + passwords + " station-l1 right-one").status, 0);
    ::chmod(passwords.c_str(), 0644);  // the broker reads it as another user
    MosquittoBroker broker;
    std::string why;
    ASSERT_TRUE(broker.Start(&why, "allow_anonymous false\npassword_file " + passwords + "\n"))
        << why;
    const std::string url =
        "mqtt://station-l1@127.0.0.1:" + std::to_string(broker.Port()) + "/line";
    const std::string secret = folder.Path() + "/secret";
    doors::Hub hub;
    FakeStation station(hub, {});
    for (const std::string password : {"wrong-one", "right-one"}) {
        std::ofstream(secret) << password << "\n";
        ::chmod(secret.c_str(), 0600);
        std::string error;
        auto doors = Open(hub, url, folder.Path() + "/outbox", &error, secret);
        if (password == std::string("wrong-one")) {
            EXPECT_FALSE(doors);
            EXPECT_NE(error.find("refused"), std::string::npos) << error;
            EXPECT_EQ(error.find(password), std::string::npos) << error;
        } else {
            EXPECT_TRUE(doors) << error;
            EXPECT_TRUE(doors && doors->MqttConnected());
        }
    }
}
