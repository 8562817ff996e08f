#include "station_assembly.h"

namespace station {

std::string ComNotOpen(const module::Kind* kind) {
    return kind ? kind->comNotOpenMessage : module::Receiver().comNotOpenMessage;
}

bool StationAssembly::OpenRecord(const record::SinkOptions& options, std::string* error,
                                 std::string* warning) {
    record_ = parts_.MakeRecord(options);
    std::string why;
    record_->Worker().Start([&why](const std::string& reason) { why = reason; });
    // Opening reads what the record holds (a CSV log's index of passes, a
    // database's schema): long at most for a very large log.
    record_->Worker().Drain(120000);
    if (!why.empty()) {
        record_.reset();
        *error = why;
        return false;
    }
    if (warning) *warning = record_->Worker().State().warning;
    return true;
}

bool StationAssembly::OpenPorts(const std::vector<std::string>& names, const module::Kind* kind,
                                std::vector<std::string>* problems) {
    std::vector<std::unique_ptr<wire::SerialPort>> opened;
    for (const std::string& name : names) {
        std::string why;
        auto port = parts_.OpenPort(name, &why);
        if (!port) problems->push_back(ComNotOpen(kind) + " (" + why + ")");
        opened.push_back(std::move(port));
    }
    if (!problems->empty()) {
        for (auto& port : opened) {
            if (port && port->IsOpen()) port->Close();
        }
        return false;
    }
    names_ = names;
    ports_ = std::move(opened);
    devices_.clear();
    for (auto& port : ports_) devices_.push_back(parts_.DeviceOf(*port));
    return true;
}

Station& StationAssembly::MakeStation(const SocketsSetup& s, StationObserver& observer) {
    line_ = std::make_unique<Station>(record_->Worker(), observer,
                                      s.job == Job::Station ? s.count : 0);
    for (std::size_t i = 0; i < ports_.size(); ++i) {
        SocketConfig config;
        config.port = names_[i];
        config.device = devices_[i];
        config.station = s.station;
        config.stationId = s.stationId;
        config.operatorName = s.operatorName;
        config.toolVersion = s.toolVersion;
        config.fixedKind = s.fixedKind;
        config.again = s.again;
        config.plan = s.plan;
        config.verify = s.verify;
        config.testChannel = s.testChannel;
        config.job = s.job;
        config.trigger = s.trigger;
        timers_.push_back(parts_.MakeTimers());
        Socket& socket = line_->AddSocket(config, *ports_[i], *timers_.back());
        socket.SetAutoPort(s.autoPort);
        parts_.Connect(socket, *ports_[i], *timers_.back());
    }
    return *line_;
}

bool StationAssembly::DrainRecord(int ms) {
    recordStuck_ = record_ && !record_->Worker().Drain(ms);
    return !recordStuck_;
}

void StationAssembly::TearDown() {
    for (std::size_t i = 0; i < ports_.size(); ++i) {
        if (i < timers_.size()) parts_.Disconnect(*ports_[i], *timers_[i]);
        if (ports_[i]->IsOpen()) ports_[i]->Close();
    }
    line_.reset();
    timers_.clear();
    ports_.clear();
    devices_.clear();
    names_.clear();
    // A record already found stuck is not waited for twice: the worker lets
    // its thread finish alone.
    if (record_ && !recordStuck_) record_->Worker().Drain(10000);
    record_.reset();
    recordStuck_ = false;
}

}  // namespace station
