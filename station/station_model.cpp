#include "station_model.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "frequency.h"
#include "record_choice.h"
#include "station_id.h"

namespace station {

namespace {

// A state the socket stays in until the module is taken out.
bool Final(Phase p) {
    return p == Phase::Passed || p == Phase::Failed || p == Phase::NotRecorded ||
           p == Phase::Skipped;
}

bool Busy(Phase phase) {
    return phase == Phase::Writing || phase == Phase::Checking || phase == Phase::Confirming;
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Join(const std::vector<std::string>& parts, const char* between) {
    std::string all;
    for (const std::string& p : parts) all += (all.empty() ? "" : between) + p;
    return all;
}

std::string LocalTimeOfDay() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

const module::Kind* KindNamed(const std::string& name) {
    return name.empty() ? nullptr : module::KindByName(name);
}

}  // namespace

TileView ViewOf(const Socket& socket) {
    TileView v;
    v.phase = socket.CurrentPhase();
    v.state = socket.PhaseText();
    const record::Attempt& last = socket.LastAttempt();
    const bool result = v.phase == Phase::Passed || v.phase == Phase::Failed;
    v.serial = Final(v.phase) ? last.serial : socket.Serial();
    v.durationMs = result ? last.durationMs : -1;
    v.progress = socket.Progress();
    v.channels = static_cast<int>(socket.Config().plan.size());
    return v;
}

TileWords WordsOf(const TileView& v) {
    TileWords w;
    w.final = Final(v.phase);
    w.result = v.phase == Phase::Passed || v.phase == Phase::Failed;
    w.description = v.state;
    // U+2714 heavy check mark and U+2716 heavy multiplication x: the word and
    // its mark tell the result without its colour; U+26A0 warning sign and
    // U+21B7 clockwise arrow (passed over) for the two other ends.
    switch (v.phase) {
        case Phase::Passed:
            w.look = TileLook::Pass;
            w.headline = "\u2714 " + v.state;
            break;
        case Phase::Failed:
            w.look = TileLook::Fail;
            w.headline = "\u2716 FAIL";
            break;
        case Phase::NotRecorded:
            w.look = TileLook::NotRecorded;
            w.headline = "\u26a0 NOT RECORDED";
            break;
        case Phase::Skipped:
            w.look = TileLook::Skipped;
            w.headline = "\u21b7 SKIPPED";
            break;
        case Phase::AdapterMissing:
            w.look = TileLook::AdapterMissing;
            w.headline = v.state;
            break;
        default:
            w.headline = v.state;
            break;
    }
    if (v.phase == Phase::Failed || v.phase == Phase::NotRecorded || v.phase == Phase::Skipped) {
        const std::size_t colon = v.state.find(": ");
        w.reason = colon == std::string::npos ? std::string() : v.state.substr(colon + 2);
        if (v.phase == Phase::Skipped) {
            // Nothing more happens to it here: the operator's next step
            // first. The serial is on its own line below.
            if (!v.serial.empty() && w.reason.rfind(v.serial + " ", 0) == 0)
                w.reason.erase(0, v.serial.size() + 1);
            w.reason = "take it out: " + w.reason;
        }
    }
    w.progressMax = std::max(1, v.channels);
    if (v.phase == Phase::Writing) {
        w.progressValue = std::clamp(v.progress, 0, w.progressMax);
        w.progress = std::to_string(w.progressValue) + " of " + std::to_string(w.progressMax) +
                     " written";
    } else if (v.phase == Phase::Checking || v.phase == Phase::Confirming) {
        w.progressValue = w.progressMax;
        w.progress = "checking";
    }
    w.serialLine = v.serial;
    if (v.durationMs >= 0)
        w.serialLine += "  " + Fixed(static_cast<double>(v.durationMs) / 1000.0, 1) + " s";
    return w;
}

StationModel::StationModel(StationParts& parts, StationModelOptions options,
                           std::function<void(std::function<void()>)> post)
    : timeOfDay(LocalTimeOfDay),
      parts_(parts),
      options_(std::move(options)),
      post_(std::move(post)) {
    EvaluatePlan();
}

StationModel::~StationModel() {
    onChanged = nullptr;
    if (Station* line = assembly_.Line()) line->RequestStop();
    TearDown();
}

void StationModel::Changed(unsigned changes) {
    if (onChanged && changes) onChanged(changes);
}

void StationModel::SetMessage(std::string text, bool problem) {
    ownMessage_ = text;
    message_ = {std::move(text), problem};
    Changed(kMessageChanged);
}

void StationModel::Say(const std::string& text) {
    // Added to what the station said last, not in its place: a start at a
    // door must not hide how many sockets started, nor a pause the reason
    // production stopped.
    message_.text = ownMessage_.empty() ? text : ownMessage_ + " (" + text + ")";
    Changed(kMessageChanged);
}

// --- Set-up ---

void StationModel::Apply(const StationSetup& setup) {
    const std::vector<std::string> chosen = setup.ports;
    setup_ = setup;
    setup_.planFile.clear();
    if (!KindNamed(setup_.kind)) setup_.kind.clear();
    if (!setup.planFile.empty()) LoadPlanFile(setup.planFile);
    // The chosen come first, in their order; a name that does not open now
    // is offered all the same, and Start says so.
    for (PortChoice& p : ports_) p.chosen = false;
    std::size_t at = 0;
    for (const std::string& name : chosen) {
        auto found = std::find_if(ports_.begin(), ports_.end(),
                                  [&](const PortChoice& p) { return p.name == name; });
        PortChoice choice;
        if (found == ports_.end()) {
            choice = {name, "does not open now", false, true};
        } else {
            choice = *found;
            choice.chosen = true;
            ports_.erase(found);
        }
        ports_.insert(ports_.begin() + static_cast<std::ptrdiff_t>(std::min(at, ports_.size())),
                      choice);
        ++at;
    }
    setup_.ports.clear();
    for (const PortChoice& p : ports_)
        if (p.chosen) setup_.ports.push_back(p.name);
    EvaluatePlan();
    Changed(kSetupChanged | kPlanChanged | kRecordChanged | kPortsChanged);
}

void StationModel::OnFrequencyEdited(int channel, const std::string& text) {
    if (channel < 0 || channel >= static_cast<int>(setup_.channels.size())) return;
    setup_.channels[static_cast<std::size_t>(channel)] = text;
    const bool hadFile = !setup_.planFile.empty();
    setup_.planFile.clear();
    EvaluatePlan();
    Changed(kPlanChanged | (hadFile ? kSetupChanged : 0u));
}

void StationModel::OnKindChosen(const std::string& kind) {
    setup_.kind = KindNamed(kind) ? kind : std::string();
    EvaluatePlan();
    Changed(kPlanChanged);
}

bool StationModel::LoadPlanFile(const std::string& path) {
    std::string error;
    const PlanTexts plan = ReadPlanFile(path, &error);
    if (!error.empty()) {
        SetMessage(error, true);
        return false;
    }
    setup_.channels = plan;
    setup_.planFile = path;
    EvaluatePlan();
    Changed(kSetupChanged | kPlanChanged);
    SetMessage("Plan loaded from " + path, false);
    return true;
}

void StationModel::KeepPlanFileName(const std::string& path) {
    setup_.planFile = path;
    Changed(kSetupChanged);
}

void StationModel::OnPortChosen(const std::string& name, bool chosen) {
    setup_.ports.clear();
    for (PortChoice& p : ports_) {
        if (p.name == name) p.chosen = chosen;
        if (p.chosen) setup_.ports.push_back(p.name);
    }
    Changed(kChoiceChanged);
}

void StationModel::OnRecordEdited(const std::string& target) {
    setup_.record = target;
    Changed(kRecordChanged);
}

void StationModel::OnStationEdited(const std::string& name) {
    setup_.station = name;
    Changed(kRecordChanged);
}

void StationModel::OnOperatorEdited(const std::string& name) {
    setup_.operatorName = name;
    Changed(kRecordChanged);
}

void StationModel::RefreshPorts() {
    ports_.clear();
    for (const wire::SurveyedPort& p : parts_.SurveyPorts()) {
        if (p.opens) ports_.push_back({p.Name(), wire::PortDescription(p.place, p.Name()), true, false});
    }
    StationSetup keep = setup_;
    const std::string planFile = keep.planFile;
    keep.planFile.clear();
    Apply(keep);
    setup_.planFile = planFile;
}

// --- The plan ---

bool StationModel::HasPlan() const {
    return std::any_of(setup_.channels.begin(), setup_.channels.end(),
                       [](const std::string& c) { return !c.empty(); });
}

const module::Kind& StationModel::ShownKind() const {
    const module::Kind* kind = KindNamed(setup_.kind);
    return kind ? *kind : *module::Kinds().front();
}

std::string StationModel::KindProblems(const module::Kind& kind) const {
    return Join(PlanProblems(kind, setup_.channels), "; ");
}

void StationModel::EvaluatePlan() {
    const module::Kind* kind = KindNamed(setup_.kind);
    const module::Kind& shown = ShownKind();
    planChannels_.clear();
    for (const std::string& text : setup_.channels)
        planChannels_.push_back(EvaluateChannel(shown, text));
    if (!HasPlan()) {
        planText_ = "No plan yet: load a plan file or type the four frequencies";
        planNotes_.clear();
        return;
    }
    planText_ = kind ? kind->name : std::string("rx/tx");
    for (std::size_t i = 0; i < setup_.channels.size(); ++i) {
        planText_ += "   Ch" + std::to_string(i) + " " +
                     (setup_.channels[i].empty() ? std::string("--") : setup_.channels[i]);
    }
    planText_ += "  MHz";
    // What each kind that may answer refuses, then what is made only nearly.
    std::vector<std::string> notes;
    for (const module::Kind* k : module::Kinds()) {
        if (kind && k != kind) continue;
        for (const std::string& p : PlanProblems(*k, setup_.channels)) notes.push_back(p);
    }
    for (std::size_t i = 0; i < planChannels_.size(); ++i) {
        const ChannelPlan& c = planChannels_[i];
        if (setup_.channels[i].empty() || !Inexact(c) || !c.problem.empty()) continue;
        notes.push_back("Ch" + std::to_string(i) + " ! " +
                        (c.makeable ? "makes " + channel::FormatFixed(c.producedMHz, 6) +
                                          " MHz, error " + channel::FormatFixed(c.errorHz, 1) +
                                          " Hz"
                                    : std::string("cannot be made")));
    }
    planNotes_ = notes.empty() ? std::string("Every channel is made exactly") : Join(notes, "\n");
}

std::string StationModel::StartRefusal() const {
    if (const std::string refusal = PlanRefusal(); !refusal.empty()) return refusal;
    if (setup_.ports.empty()) return "Choose the sockets first";
    // Two sockets on one device would fight over it: the second open fails
    // as if the first were another program.
    return parts_.NamesOfOneDevice(setup_.ports);
}

std::string StationModel::PlanRefusal() const {
    if (!HasPlan()) return "No plan yet: load a plan file or type the four frequencies";
    for (std::size_t i = 0; i < setup_.channels.size(); ++i) {
        const std::string& text = setup_.channels[i];
        if (text.empty()) return "Ch" + std::to_string(i) + " has no frequency";
        if (!IsPlainFrequency(text)) return "\"" + text + "\" is not a frequency in MHz";
    }
    if (const module::Kind* fixed = KindNamed(setup_.kind)) {
        const std::string problem = KindProblems(*fixed);
        if (!problem.empty()) return problem + " (plan refused)";
    } else {
        std::vector<std::string> problems;
        bool everyKind = true;
        for (const module::Kind* k : module::Kinds()) {
            const std::string p = KindProblems(*k);
            if (p.empty()) everyKind = false;
            if (!p.empty()) problems.push_back(p);
        }
        if (everyKind) return Join(problems, "; ") + " (plan refused)";
    }
    return {};
}

// --- Production ---

bool StationModel::Start() {
    if (assembly_.Line()) return false;
    if (const std::string refusal = StartRefusal(); !refusal.empty()) {
        SetMessage(refusal, true);
        return false;
    }
    const StationSetup& s = setup_;
    const module::Kind* fixed = KindNamed(s.kind);
    const std::string stationName = s.station.empty() ? options_.hostName : s.station;
    std::string idError;
    const std::string stationId = record::StationId(options_.dataFolder, &idError);
    if (stationId.empty()) {
        SetMessage("Record: " + idError, true);
        return false;
    }
    const record::SinkOptions sinks =
        RecordSinkOptions(s.record, options_.dataFolder, stationName, stationId);
    std::string error, warning;
    if (!assembly_.OpenRecord(sinks, &error, &warning)) {
        SetMessage("Record: " + error, true);
        return false;
    }
    recordIsDatabase_ = !sinks.dbUri.empty();
    std::vector<std::string> problems;
    if (!assembly_.OpenPorts(s.ports, fixed, &problems)) {
        assembly_.TearDown();
        SetMessage(Join(problems, "; "), true);
        return false;
    }
    SocketsSetup setup;
    setup.plan = s.channels;
    setup.fixedKind = fixed;
    setup.station = stationName;
    setup.stationId = stationId;
    setup.operatorName = s.operatorName;
    setup.toolVersion = options_.toolVersion;
    setup.trigger = options_.trigger;
    Station& line = assembly_.MakeStation(setup, *this);
    tiles_.clear();
    changedTiles_.clear();
    for (std::size_t i = 0; i < line.Sockets().size(); ++i) {
        Tile t;
        t.number = static_cast<int>(i + 1);
        t.port = s.ports[i];
        t.device = assembly_.Devices()[i];
        t.view = ViewOf(*line.Sockets()[i]);
        t.words = WordsOf(t.view);
        tiles_.push_back(std::move(t));
    }
    failures_.clear();
    counters_ = CounterTexts{};
    // A kind the plan refuses fails each of its modules: said once here,
    // and on every such module's tile.
    std::vector<std::string> said = {"Production: " + std::to_string(s.ports.size()) + " sockets"};
    if (!warning.empty()) said.push_back(warning);
    if (!fixed) {
        for (const module::Kind* k : module::Kinds()) {
            const std::string p = KindProblems(*k);
            if (!p.empty()) said.push_back(k->name + " modules fail: " + p);
        }
    }
    Changed(kModeChanged | kTilesLaidOut | kFailuresChanged | kCountersChanged | kRecordChanged);
    SetMessage(Join(said, "; "), false);
    line.Start();
    if (assembly_.Line()) {
        CountersFromLine();
        if (onLine) onLine(assembly_.Line());
    }
    return true;
}

std::string StationModel::StopQuestion() const {
    if (!assembly_.Line()) return {};
    std::vector<std::string> busy;
    for (const auto& socket : assembly_.Line()->Sockets()) {
        if (Busy(socket->CurrentPhase()))
            busy.push_back("Socket " + std::to_string(socket->Config().number));
    }
    if (busy.empty()) return {};
    return Join(busy, ", ") + (busy.size() == 1 ? " is" : " are") +
           " writing a module. Stop anyway? The module is recorded as interrupted and must be "
           "written again.";
}

void StationModel::Stop() {
    if (Station* line = assembly_.Line()) line->RequestStop();
}

void StationModel::Refresh() {
    if (!assembly_.Line()) return;
    CountersFromLine();
    Changed(kRecordChanged);
}

void StationModel::CountersFromLine() {
    const Station* line = assembly_.Line();
    if (!line) return;
    const Counts& t = line->Total();
    CounterTexts c;
    c.passed = std::to_string(t.passed);
    c.failed = std::to_string(t.failed);
    c.skipped = std::to_string(t.skipped);
    c.total = std::to_string(t.passed + t.failed + t.skipped);
    const int judged = t.passed + t.failed;
    c.yield = judged == 0 ? "--" : Fixed(100.0 * t.passed / judged, 1) + " %";
    const std::optional<double> perHour = line->PassedPerHour();
    c.perHour = perHour ? Fixed(*perHour, 0) : "--";
    const bool changed = c.passed != counters_.passed || c.failed != counters_.failed ||
                         c.skipped != counters_.skipped || c.total != counters_.total ||
                         c.yield != counters_.yield || c.perHour != counters_.perHour;
    counters_ = c;
    if (changed) Changed(kCountersChanged);
}

std::set<std::size_t> StationModel::TakeChangedTiles() {
    std::set<std::size_t> out;
    out.swap(changedTiles_);
    return out;
}

std::string StationModel::SetupHint() const {
    if (Producing()) return {};
    if (const std::string refusal = PlanRefusal(); !refusal.empty()) return refusal;
    if (setup_.ports.empty()) return "Choose the sockets in the list on the left";
    const std::size_t n = setup_.ports.size();
    return "Ready: Start writes the plan on " + std::to_string(n) + (n == 1 ? " socket" : " sockets");
}

std::string StationModel::StationText() const {
    const std::string station = setup_.station.empty() ? options_.hostName : setup_.station;
    return "Station: " + station +
           "\nOperator: " + (setup_.operatorName.empty() ? "--" : setup_.operatorName);
}

std::string StationModel::RecordText() {
    if (assembly_.HasRecord()) {
        const record::RecordState r = assembly_.Record().State();
        // A CSV file keeps its rows at once: only a database has rows that
        // wait to be sent.
        std::string text = "Record: " + r.describe;
        if (recordIsDatabase_ || r.unsent > 0)
            text += "\n" + std::to_string(r.unsent) + " rows not yet sent";
        return text;
    }
    return "Record: " +
           (setup_.record.empty() ? "CSV " + DefaultRecordPath(options_.dataFolder) : setup_.record);
}

// --- The station's callbacks ---

bool StationModel::AcceptPlan(const Socket& socket, const module::Kind& kind) {
    const std::string problem = KindProblems(kind);
    if (problem.empty()) return true;
    SetMessage("Socket " + std::to_string(socket.Config().number) + ": " + problem +
                   " (plan refused)",
               true);
    return false;
}

void StationModel::OnAttemptBegun(const Socket& socket, const record::Attempt& attempt) {
    if (alsoTell) alsoTell->OnAttemptBegun(socket, attempt);
}

void StationModel::OnAdapter(const Socket& socket, bool present, const std::string& reason) {
    if (alsoTell) alsoTell->OnAdapter(socket, present, reason);
}

void StationModel::OnAttempt(const Socket& socket, const record::Attempt& a, bool logged,
                             const std::string& recordError) {
    if (alsoTell) alsoTell->OnAttempt(socket, a, logged, recordError);
    ShowSocket(socket);
    CountersFromLine();
    Changed(kRecordChanged);
    if (!logged) SetMessage("Record: " + recordError, true);
    if (a.operation == record::Operation::Info || a.result == record::Result::Pass ||
        a.result == record::Result::Skipped)
        return;
    FailureRow row;
    row.time = timeOfDay ? timeOfDay() : std::string();
    row.socket = a.socket;
    row.serial = a.serial;
    row.reason = !logged             ? "record: " + recordError
                 : a.message.empty() ? record::ToText(a.result)
                                     : a.message;
    failures_.insert(failures_.begin(), std::move(row));
    if (failures_.size() > kFailuresKept) failures_.resize(kFailuresKept);
    Changed(kFailuresChanged);
}

void StationModel::OnPhase(const Socket& socket) {
    if (alsoTell) alsoTell->OnPhase(socket);
    ShowSocket(socket);
}

void StationModel::ShowSocket(const Socket& socket) {
    const std::size_t at = static_cast<std::size_t>(socket.Config().number - 1);
    if (at >= tiles_.size()) return;
    const TileView view = ViewOf(socket);
    if (view == tiles_[at].view) return;
    tiles_[at].view = view;
    tiles_[at].words = WordsOf(view);
    changedTiles_.insert(at);
    Changed(kTilesChanged);
}

void StationModel::OnStationEnded(const Station& line) {
    if (alsoTell) alsoTell->OnStationEnded(line);
    // The station calls this from inside its sockets: it is taken apart once
    // they have returned.
    post_([this] { TearDown(); });
}

void StationModel::TearDown() {
    if (!assembly_.Line() || tearingDown_) return;
    tearingDown_ = true;
    CountersFromLine();
    // Why production stopped stays on the message line: a record that could
    // not keep a row is the operator's to mend before Start.
    const std::string recordError = assembly_.Line()->RecordError();
    if (onLine) onLine(nullptr);
    assembly_.TearDown();
    tearingDown_ = false;
    // The last session's tiles go; its counters and failures stay until
    // the next Start.
    tiles_.clear();
    changedTiles_.clear();
    Changed(kModeChanged | kTilesLaidOut | kRecordChanged);
    if (recordError.empty()) {
        SetMessage("Stopped: set-up mode", false);
    } else {
        SetMessage("Stopped: set-up mode (record: " + recordError + ")", true);
    }
}

}  // namespace station
