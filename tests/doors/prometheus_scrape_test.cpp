// Debian's Prometheus scrapes /metrics, and a PromQL query through its HTTP
// API gives socket 2's passes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <fstream>

#include "doors_test_support.h"
#include "fake_station.h"
#include "mosquitto_broker.h"
#include "open_doors.h"
#include "scratch_folder.h"

TEST(PrometheusScrape, QueryGivesSocketTwosPasses) {
    const std::string program = "/usr/bin/prometheus";
    ASSERT_EQ(access(program.c_str(), X_OK), 0) << "Debian: prometheus";
    doors::Hub hub;
    FakeStationOptions o;
    o.attemptsPerSocket = 3;
    o.result = [](int socket, int k) { return socket == 2 && k == 1 ? "fail" : "pass"; };
    FakeStation station(hub, o);
    std::string error;
    doors::DoorsOptions options;
    options.http = doors::ParseEndpoint("127.0.0.1:0");
    auto doors = doors::OpenDoors(options, hub, &error);
    ASSERT_TRUE(doors) << error;
    station.Start();
    ASSERT_TRUE(station.WaitDone(10000));

    ScratchFolder folder("doors-prometheus");
    const int port = MosquittoBroker::FreePort();
    std::ofstream(folder.Path() + "/prometheus.yml")
        << "global:\n  scrape_interval: 1s\n"
        << "scrape_configs:\n  - job_name: station\n    static_configs:\n"
        << "      - targets: ['127.0.0.1:" << doors->HttpPort() << "']\n";
    const int log = ::open((folder.Path() + "/prometheus.log").c_str(), O_WRONLY | O_CREAT, 0600);
    const pid_t pid = child::Spawn({program, "--config.file=" + folder.Path() + "/prometheus.yml",
                                    "--storage.tsdb.path=" + folder.Path() + "/data",
                                    "--web.listen-address=127.0.0.1:" + std::to_string(port)},
                                   {}, log, log);
    ::close(log);
    const std::string query = "curl -s -m 5 -G http://127.0.0.1:" + std::to_string(port) +
                              "/api/v1/query --data-urlencode "
                              "'query=station_attempts_total{socket=\"2\",result=\"pass\"}'";
    double passes = -1;
    doorstest::WaitFor(
        [&] {
            const QJsonObject answer =
                QJsonDocument::fromJson(QByteArray::fromStdString(doorstest::Run(query).text))
                    .object();
            const QJsonArray result = answer["data"].toObject()["result"].toArray();
            if (result.isEmpty()) return false;
            passes = result[0].toObject()["value"].toArray()[1].toString().toDouble();
            return true;
        },
        30000);
    ::kill(pid, SIGTERM);
    child::WaitExit(pid, 10000);
    EXPECT_EQ(passes, 2);
    station.Stop();
}
