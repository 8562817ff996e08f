#pragma once

#include <array>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "plan.h"
#include "station.h"
#include "station_assembly.h"
#include "station_setup.h"

namespace station {

// What one tile shows, taken from its socket.
struct TileView {
    Phase phase = Phase::Empty;
    std::string state;  // the socket's phase text
    std::string serial;
    long long durationMs = -1;  // of the last attempt; -1 while none ended
    int progress = 0;           // channels written, 0..channels
    int channels = 4;           // of the plan being written
    bool operator==(const TileView& o) const {
        return phase == o.phase && state == o.state && serial == o.serial &&
               durationMs == o.durationMs && progress == o.progress && channels == o.channels;
    }
};

TileView ViewOf(const Socket& socket);

// How a tile is framed. Every end state has a frame of its own, so none is
// told by its colour alone.
enum class TileLook { Plain, Pass, Fail, NotRecorded, Skipped, AdapterMissing };

// A tile's words, as the window draws them.
struct TileWords {
    TileLook look = TileLook::Plain;
    bool final = false;    // stays until the module is taken out
    bool result = false;   // PASS or FAIL: the largest words
    std::string headline;  // "✔ PASS", "✖ FAIL", "writing Ch2"
    std::string reason;    // below the headline; empty: none
    std::string progress;  // the bar's text ("2 of 4 written"); empty: no bar
    int progressValue = 0;
    int progressMax = 4;
    std::string serialLine;   // "00074565  4.2 s"
    std::string description;  // the socket's whole state, for screen readers
    bool operator==(const TileWords& o) const {
        return look == o.look && headline == o.headline && reason == o.reason &&
               progress == o.progress && progressValue == o.progressValue &&
               progressMax == o.progressMax && serialLine == o.serialLine &&
               description == o.description;
    }
    bool operator!=(const TileWords& o) const { return !(*this == o); }
};

TileWords WordsOf(const TileView& view);

struct Tile {
    int number = 1;
    std::string port;
    std::string device;
    TileView view;
    TileWords words;
};

// A COM name offered for a socket.
struct PortChoice {
    std::string name;
    std::string tip;  // the device and what its maker wrote into it
    bool opens = true;
    bool chosen = false;
};

struct FailureRow {
    std::string time;  // "HH:MM:SS"
    int socket = 0;
    std::string serial;
    std::string reason;  // whole
};

struct CounterTexts {
    std::string passed = "0", failed = "0", skipped = "0", total = "0";
    std::string yield = "--", perHour = "--";
};

struct MessageLine {
    std::string text;
    bool problem = false;
};

// What changed since the window last drew, so it draws only that.
enum Change : unsigned {
    kSetupChanged = 1u << 0,  // the set-up controls' contents
    kPlanChanged = 1u << 1,
    kRecordChanged = 1u << 2,
    kPortsChanged = 1u << 3,
    kModeChanged = 1u << 4,
    kMessageChanged = 1u << 5,
    kTilesChanged = 1u << 6,  // which: TakeChangedTiles()
    kCountersChanged = 1u << 7,
    kFailuresChanged = 1u << 8,
    kTilesLaidOut = 1u << 9,   // tiles came or went
    kChoiceChanged = 1u << 10, // a socket chosen or no longer
};

struct StationModelOptions {
    std::string dataFolder;  // the record, the station id
    std::string toolVersion;
    std::string hostName;  // the station's name when none is given
    bool trigger = false;  // each socket waits for a start from outside (a PLC)
};

// modstation as data and handlers: the set-up, the plan's state and what
// refuses it, set-up or production, the tiles, counters and failures, and
// the message line. The window builds widgets, forwards the operator's
// edits here and draws what this holds; every rule of the station lives
// here, so a test checks it without a widget.
class StationModel : private StationObserver {
  public:
    // post: runs a function on this thread once the present call has
    // returned (the station ends from inside its sockets).
    StationModel(StationParts& parts, StationModelOptions options,
                 std::function<void(std::function<void()>)> post);
    ~StationModel() override;
    StationModel(const StationModel&) = delete;
    StationModel& operator=(const StationModel&) = delete;

    // Told of every change; the window draws what the flags name.
    std::function<void(unsigned changes)> onChanged;
    // The failure list's clock ("HH:MM:SS").
    std::function<std::string()> timeOfDay;
    // Told of the station's events after the model (the network doors).
    StationObserver* alsoTell = nullptr;
    // The station once it has started, and nullptr just before it is taken
    // apart.
    std::function<void(Station* line)> onLine;

    // --- Set-up: the operator's edits ---
    // Fills the set-up; a plan file is read at once. The sockets given are
    // chosen, in their order, whether they open now or not: Start says
    // which one does not.
    void Apply(const StationSetup& setup);
    const StationSetup& Current() const { return setup_; }
    // A frequency typed by hand is no longer the table's.
    void OnFrequencyEdited(int channel, const std::string& text);
    void OnKindChosen(const std::string& kind);  // "rx", "tx", "": whichever answers
    // Reads a .tbl file into the plan (four frequencies, or as many as it
    // names); false with the reason on the message line.
    bool LoadPlanFile(const std::string& path);
    // A remembered plan file that has gone: its frequencies are kept, and
    // its name, so the operator sees which one it was.
    void KeepPlanFileName(const std::string& path);
    void OnPortChosen(const std::string& name, bool chosen);
    void OnRecordEdited(const std::string& target);
    void OnStationEdited(const std::string& name);
    void OnOperatorEdited(const std::string& name);
    // Looks up every COM name that opens again; chosen sockets stay chosen.
    void RefreshPorts();
    const std::vector<PortChoice>& Ports() const { return ports_; }

    // --- Production ---
    // False, with the reason on the message line, when the plan is refused,
    // no socket is chosen, the record cannot be written or a port does not
    // open.
    bool Start();
    // What to ask before Stop: empty when no socket is writing a module.
    std::string StopQuestion() const;
    // Every running attempt ends with its whole "interrupted" row.
    void Stop();
    // The slow figures (counters, the record's unsent rows), once a second.
    void Refresh();
    bool Producing() const { return assembly_.Line() != nullptr; }
    const Station* Line() const { return assembly_.Line(); }
    Station* Line() { return assembly_.Line(); }
    const StationAssembly& Assembly() const { return assembly_; }
    StationAssembly& Assembly() { return assembly_; }
    // Each socket waits for a start from outside (a PLC's coil).
    void SetTrigger(bool on) { options_.trigger = on; }
    // Something the operator is told that changes nothing here (a command
    // carried out at a network door).
    void Say(const std::string& text);
    // The station's name as the record has it: the one given, or the host's.
    std::string StationName() const {
        return setup_.station.empty() ? options_.hostName : setup_.station;
    }

    // --- What the window shows ---
    bool SetupEnabled() const { return !Producing(); }
    bool StartEnabled() const { return !Producing(); }
    bool StopEnabled() const { return Producing(); }
    // "rx   Ch0 434.700   Ch1 ... MHz"; without a plan, what to set up first.
    const std::string& PlanText() const { return planText_; }
    // Channels made inexactly, and what each kind that may answer refuses.
    const std::string& PlanNotes() const { return planNotes_; }
    bool HasPlan() const;
    // The kind the picture is drawn for, and its channels.
    const module::Kind& ShownKind() const;
    const std::vector<ChannelPlan>& PlanChannels() const { return planChannels_; }
    // Where the tiles go before Start: what to set up first, or that Start
    // may begin.
    std::string SetupHint() const;
    std::string StationText() const;
    std::string RecordText();
    const MessageLine& Message() const { return message_; }
    const std::vector<Tile>& Tiles() const { return tiles_; }
    // Tiles whose socket changed since the last call.
    std::set<std::size_t> TakeChangedTiles();
    const CounterTexts& Counters() const { return counters_; }
    // Newest first, at most kFailuresKept.
    const std::vector<FailureRow>& Failures() const { return failures_; }
    static constexpr std::size_t kFailuresKept = 50;

  private:
    // StationObserver
    bool AcceptPlan(const Socket& socket, const module::Kind& kind) override;
    void OnAttemptBegun(const Socket& socket, const record::Attempt& attempt) override;
    void OnAdapter(const Socket& socket, bool present, const std::string& reason) override;
    void OnAttempt(const Socket& socket, const record::Attempt& attempt, bool logged,
                   const std::string& recordError) override;
    void OnPhase(const Socket& socket) override;
    void OnStationEnded(const Station& station) override;

    void ShowSocket(const Socket& socket);
    void Changed(unsigned changes);
    void SetMessage(std::string text, bool problem);
    void EvaluatePlan();
    // Why the plan may not be written: empty when it may, for the kind
    // chosen or for at least one kind when whichever answers.
    std::string StartRefusal() const;
    // The plan's part of it: none chosen, a channel not a frequency, refused.
    std::string PlanRefusal() const;
    std::string KindProblems(const module::Kind& kind) const;
    void CountersFromLine();
    void TearDown();

    StationParts& parts_;
    StationModelOptions options_;
    std::function<void(std::function<void()>)> post_;
    StationSetup setup_;
    std::vector<PortChoice> ports_;
    std::string planText_;
    std::string planNotes_;
    std::vector<ChannelPlan> planChannels_;
    MessageLine message_;
    std::string ownMessage_;  // the station's own words, without a door's
    std::vector<Tile> tiles_;
    std::set<std::size_t> changedTiles_;
    CounterTexts counters_;
    std::vector<FailureRow> failures_;
    bool recordIsDatabase_ = false;
    bool tearingDown_ = false;
    StationAssembly assembly_{parts_};
};

}  // namespace station
