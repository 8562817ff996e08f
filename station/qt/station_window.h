#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "file_places.h"
#include "socket_port.h"
#include "station_model.h"

class QComboBox;
class QFormLayout;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLayout;
class QLineEdit;
class QListWidget;
class QMessageBox;
class QPushButton;
class QTimer;
class QTreeWidget;

namespace station {

class PlanPicture;
class SocketTile;

// The line operator's window: the plan in view, a tile per socket, the
// shift's counters and the last failures. In set-up mode everything may be
// changed; Start locks it all and only Stop stays active. What it shows and
// every rule behind it is StationModel's; this builds the widgets, forwards
// the operator's edits and draws the model.
class StationWindow : public QWidget {
  public:
    StationWindow(store::FilePlaces places, std::string toolVersion, QWidget* parent = nullptr);
    ~StationWindow() override;

    // Fills the set-up controls; a plan file is read at once.
    void Apply(const StationSetup& setup) { model_.Apply(setup); }
    StationSetup Current() const { return model_.Current(); }
    // Reads a .tbl file into the four frequencies; false with the reason
    // shown in the message line.
    bool LoadPlanFile(const std::string& path) { return model_.LoadPlanFile(path); }
    // Looks up every COM name that opens again; chosen sockets stay chosen.
    void RefreshPorts() { model_.RefreshPorts(); }

    // Start: false (and the reason in the message line) when the plan is
    // refused, no socket is chosen, the record cannot be written or a port
    // does not open.
    bool StartProduction();
    // Stop: asks first when a socket is writing; false when the operator
    // said no.
    bool StopProduction();
    bool Producing() const { return model_.Producing(); }
    const Station* Line() const { return model_.Line(); }
    QString Message() const;
    StationModel& Model() { return model_; }

    // The question before stopping a write, "No, keep running" by default.
    static std::unique_ptr<QMessageBox> MakeStopQuestion(QWidget* parent, const QString& question);
    // A test answers the question itself.
    void SetConfirm(std::function<bool(const QString&)> confirm) { confirm_ = std::move(confirm); }

    // Settings in the config folder: what Current() holds and the geometry.
    void LoadSettings();
    void SaveSettings() const;
    std::string SettingsPath() const;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void BuildHeader(QWidget* into);
    void BuildSetup(QWidget* into);
    QWidget* BuildCounters();
    QLayout* BuildButtons();
    // Draws what changed in the model.
    void Render(unsigned changes);
    void ShowSetup();
    void ShowPorts();
    void ShowPlan();
    void ShowRecord();
    void ShowCounters();
    void ShowFailures();
    void ShowMessage();
    void Lock(bool producing);
    void LayoutTiles();
    void RefreshTiles();

    store::FilePlaces places_;
    std::string toolVersion_;
    std::function<bool(const QString&)> confirm_;

    // Header
    QLabel* planText_;
    PlanPicture* picture_;
    QLabel* inexact_;
    QLabel* stationText_;
    QLabel* recordText_;
    // Set-up
    QWidget* setupColumn_;
    QGroupBox* setupBox_;
    QLineEdit* planFile_;
    QPushButton* loadPlan_;
    // One field per channel a kind may have; those past the plan's (and past
    // Ch3) are hidden.
    std::array<QLineEdit*, module::kMaxChannels> frequencies_{};
    QFormLayout* setupForm_ = nullptr;
    QComboBox* kind_;
    QListWidget* ports_;
    QPushButton* refreshPorts_;
    QLineEdit* record_;
    QLineEdit* stationName_;
    QLineEdit* operator_;
    QPushButton* start_;
    QPushButton* stop_;
    QLabel* message_;
    // Production
    QGridLayout* tileGrid_;
    std::vector<SocketTile*> tiles_;
    QLabel* passed_;
    QLabel* failed_;
    QLabel* skipped_;
    QLabel* total_;
    QLabel* yield_;
    QLabel* perHour_;
    QTreeWidget* failures_;
    QTimer* slowRefresh_;
    QTimer* tileRefresh_;

    QLabel* setupHint_;  // where the tiles go, before Start
    bool rendering_ = false;  // the model's own texts going into the controls
    bool geometryRestored_ = false;
    bool closeWhenEnded_ = false;

    // The record, the ports and the sockets while in production.
    QtStationParts parts_{places_.ports};
    StationModel model_;
};

}  // namespace station
