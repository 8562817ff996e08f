#include "station_window.h"

#include <QAccessible>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QSysInfo>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cmath>

#include "frequency.h"
#include "plan_picture.h"
#include "port_survey.h"
#include "qt_serial_port.h"
#include "record_choice.h"
#include "serial_port.h"
#include "socket_port.h"
#include "socket_tile.h"
#include "station_id.h"

namespace station {

namespace {

constexpr int kFailuresKept = 50;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

std::string S(const QString& s) {
    return s.trimmed().toStdString();
}

bool Busy(Phase phase) {
    return phase == Phase::Writing || phase == Phase::Checking || phase == Phase::Confirming;
}

QLabel* CounterLabel(const QString& name, QWidget* parent) {
    auto* label = new QLabel("0", parent);
    label->setObjectName(name);
    label->setAccessibleName(name);
    QFont f = label->font();
    f.setPointSizeF(f.pointSizeF() * 1.6);
    f.setBold(true);
    label->setFont(f);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

}  // namespace

std::unique_ptr<QMessageBox> StationWindow::MakeStopQuestion(QWidget* parent,
                                                             const QString& question) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::Question, "Stop", question,
                                             QMessageBox::Yes | QMessageBox::No, parent);
    box->button(QMessageBox::Yes)->setText("&Stop anyway");
    box->button(QMessageBox::No)->setText("&No, keep running");
    // Enter, pressed by habit, keeps every module being written.
    box->setDefaultButton(QMessageBox::No);
    box->setEscapeButton(QMessageBox::No);
    return box;
}

StationWindow::StationWindow(store::FilePlaces places, std::string toolVersion, QWidget* parent)
    : QWidget(parent),
      places_(std::move(places)),
      toolVersion_(std::move(toolVersion)),
      confirm_([this](const QString& question) {
          const auto box = MakeStopQuestion(this, question);
          return box->exec() == QMessageBox::Yes;
      }) {
    setObjectName("StationWindow");
    setWindowTitle("modstation");
    auto* outer = new QVBoxLayout(this);
    auto* header = new QWidget(this);
    BuildHeader(header);
    outer->addWidget(header);

    auto* middle = new QHBoxLayout;
    setupColumn_ = new QWidget(this);
    BuildSetup(setupColumn_);
    middle->addWidget(setupColumn_, 0);

    auto* tilesArea = new QScrollArea(this);
    tilesArea->setWidgetResizable(true);
    tilesArea->setFrameShape(QFrame::NoFrame);
    auto* tiles = new QWidget(tilesArea);
    tileGrid_ = new QGridLayout(tiles);
    tileGrid_->setSpacing(6);
    tilesArea->setWidget(tiles);
    middle->addWidget(tilesArea, 1);
    middle->addWidget(BuildCounters(), 0);
    outer->addLayout(middle, 1);

    message_ = new QLabel(this);
    message_->setObjectName("Message");
    message_->setAccessibleName("Message");
    message_->setWordWrap(true);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    outer->addLayout(BuildButtons());

    tileRefresh_ = new QTimer(this);
    tileRefresh_->setSingleShot(true);
    tileRefresh_->setInterval(100);
    connect(tileRefresh_, &QTimer::timeout, this, [this] { RefreshTiles(); });
    slowRefresh_ = new QTimer(this);
    slowRefresh_->setInterval(1000);
    connect(slowRefresh_, &QTimer::timeout, this, [this] {
        ShowRecord();
        ShowCounters();
    });
    Lock(false);
    ShowPlan();
    ShowRecord();
}

StationWindow::~StationWindow() {
    if (Station* line = assembly_.Line()) {
        line->RequestStop();
    }
    TearDown();
}

void StationWindow::BuildHeader(QWidget* into) {
    auto* layout = new QHBoxLayout(into);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* planBox = new QGroupBox("Plan", into);
    auto* planLayout = new QVBoxLayout(planBox);
    planText_ = new QLabel(planBox);
    planText_->setObjectName("PlanText");
    planText_->setAccessibleName("Plan");
    QFont big = planText_->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    planText_->setFont(big);
    picture_ = new PlanPicture(planBox);
    inexact_ = new QLabel(planBox);
    inexact_->setObjectName("Inexact");
    inexact_->setAccessibleName("Inexact channels");
    inexact_->setWordWrap(true);
    planLayout->addWidget(planText_);
    planLayout->addWidget(picture_);
    planLayout->addWidget(inexact_);
    layout->addWidget(planBox, 3);

    auto* stationBox = new QGroupBox("Station", into);
    auto* stationLayout = new QVBoxLayout(stationBox);
    stationText_ = new QLabel(stationBox);
    stationText_->setObjectName("StationText");
    stationText_->setAccessibleName("Station and operator");
    recordText_ = new QLabel(stationBox);
    recordText_->setObjectName("RecordText");
    recordText_->setAccessibleName("Record");
    recordText_->setWordWrap(true);
    stationLayout->addWidget(stationText_);
    stationLayout->addWidget(recordText_);
    stationLayout->addStretch(1);
    layout->addWidget(stationBox, 2);
}

void StationWindow::BuildSetup(QWidget* into) {
    auto* layout = new QVBoxLayout(into);
    layout->setContentsMargins(0, 0, 0, 0);
    setupBox_ = new QGroupBox("Set-up", into);
    auto* form = new QFormLayout(setupBox_);

    auto* planRow = new QHBoxLayout;
    planFile_ = new QLineEdit(setupBox_);
    planFile_->setObjectName("PlanFile");
    planFile_->setAccessibleName("Plan file");
    planFile_->setReadOnly(true);
    loadPlan_ = new QPushButton("&Load plan...", setupBox_);
    loadPlan_->setObjectName("LoadPlan");
    loadPlan_->setAccessibleName("Load plan");
    planRow->addWidget(planFile_, 1);
    planRow->addWidget(loadPlan_);
    form->addRow("Plan file:", planRow);
    connect(loadPlan_, &QPushButton::clicked, this, [this] {
        const QString start = planFile_->text().isEmpty() ? Q(places_.data) : planFile_->text();
        const QString path = QFileDialog::getOpenFileName(this, "Load plan", start,
                                                          "Channel tables (*.tbl);;All files (*)");
        if (!path.isEmpty()) LoadPlanFile(path.toStdString());
    });

    for (int i = 0; i < 4; ++i) {
        auto* box = new QLineEdit(setupBox_);
        box->setObjectName(QString("Ch%1").arg(i));
        box->setAccessibleName(QString("Ch%1 frequency").arg(i));
        box->setPlaceholderText("MHz");
        frequencies_[static_cast<std::size_t>(i)] = box;
        form->addRow(QString("Ch&%1 (MHz):").arg(i), box);
        // A frequency typed by hand is no longer the table's.
        connect(box, &QLineEdit::textEdited, this, [this] {
            planFile_->clear();
            ShowPlan();
        });
    }
    kind_ = new QComboBox(setupBox_);
    kind_->setObjectName("Kind");
    kind_->setAccessibleName("Kind");
    kind_->addItem("whichever answers", QString());
    for (const module::Kind* k : module::Kinds()) {
        kind_->addItem(Q(k->name + " (" + k->description + ")"), Q(k->name));
    }
    form->addRow("&Kind:", kind_);
    connect(kind_, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] { ShowPlan(); });

    ports_ = new QListWidget(setupBox_);
    ports_->setObjectName("Sockets");
    ports_->setAccessibleName("Sockets");
    ports_->setMinimumHeight(120);
    refreshPorts_ = new QPushButton("&Refresh ports", setupBox_);
    refreshPorts_->setObjectName("RefreshPorts");
    refreshPorts_->setAccessibleName("Refresh ports");
    connect(refreshPorts_, &QPushButton::clicked, this, [this] { RefreshPorts(); });
    form->addRow("S&ockets:", ports_);
    form->addRow("", refreshPorts_);

    record_ = new QLineEdit(setupBox_);
    record_->setObjectName("RecordTarget");
    record_->setAccessibleName("Record file");
    record_->setPlaceholderText(Q(DefaultRecordPath(places_.data)));
    form->addRow("R&ecord:", record_);
    stationName_ = new QLineEdit(setupBox_);
    stationName_->setObjectName("StationName");
    stationName_->setAccessibleName("Station name");
    stationName_->setPlaceholderText(QSysInfo::machineHostName());
    form->addRow("Statio&n:", stationName_);
    operator_ = new QLineEdit(setupBox_);
    operator_->setObjectName("Operator");
    operator_->setAccessibleName("Operator");
    form->addRow("O&perator:", operator_);
    for (QLineEdit* e : {record_, stationName_, operator_}) {
        connect(e, &QLineEdit::textChanged, this, [this] { ShowRecord(); });
    }
    layout->addWidget(setupBox_);

    layout->addStretch(1);
    into->setMaximumWidth(360);
}

QLayout* StationWindow::BuildButtons() {
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(message_, 1);
    start_ = new QPushButton("&Start", this);
    start_->setObjectName("Start");
    start_->setAccessibleName("Start");
    stop_ = new QPushButton("S&top", this);
    stop_->setObjectName("Stop");
    stop_->setAccessibleName("Stop");
    for (QPushButton* b : {start_, stop_}) {
        QFont f = b->font();
        f.setPointSizeF(f.pointSizeF() * 1.4);
        f.setBold(true);
        b->setFont(f);
        b->setMinimumSize(140, 40);
        buttons->addWidget(b);
    }
    connect(start_, &QPushButton::clicked, this, [this] { StartProduction(); });
    connect(stop_, &QPushButton::clicked, this, [this] { StopProduction(); });
    return buttons;
}

QWidget* StationWindow::BuildCounters() {
    auto* box = new QGroupBox("Session", this);
    auto* layout = new QVBoxLayout(box);
    auto* grid = new QGridLayout;
    int row = 0;
    for (auto [label, name] : {std::pair{&passed_, "Passed"},
                               {&failed_, "Failed"},
                               {&skipped_, "Skipped"},
                               {&total_, "Total"},
                               {&yield_, "Yield"},
                               // Passes only, over a sliding window.
                               {&perHour_, "Passes per hour (last 15 min)"}}) {
        *label = CounterLabel(name, box);
        auto* caption = new QLabel(QString(name) + ":", box);
        caption->setBuddy(*label);
        grid->addWidget(caption, row, 0);
        grid->addWidget(*label, row, 1);
        ++row;
    }
    yield_->setText("--");
    layout->addLayout(grid);
    layout->addWidget(new QLabel("Last failures", box));
    failures_ = new QTreeWidget(box);
    failures_->setObjectName("Failures");
    failures_->setAccessibleName("Last failures");
    failures_->setHeaderLabels({"Time", "Socket", "Serial", "Reason"});
    failures_->setRootIsDecorated(false);
    failures_->setMinimumWidth(260);
    failures_->header()->setStretchLastSection(true);
    // The short columns fit their contents in any font; the reason takes
    // the rest of the window's width, wrapped, and its tooltip is whole.
    for (const int column : {0, 1, 2})
        failures_->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    failures_->setWordWrap(true);
    layout->addWidget(failures_, 1);
    box->setMaximumWidth(360);
    return box;
}

void StationWindow::Apply(const StationSetup& setup) {
    for (std::size_t i = 0; i < 4; ++i) frequencies_[i]->setText(Q(setup.channels[i]));
    planFile_->clear();
    if (!setup.planFile.empty()) LoadPlanFile(setup.planFile);
    const int kind = kind_->findData(Q(setup.kind));
    kind_->setCurrentIndex(kind < 0 ? 0 : kind);
    record_->setText(Q(setup.record));
    stationName_->setText(Q(setup.station));
    operator_->setText(Q(setup.operatorName));
    // The sockets given are chosen, in their order, whether they open now
    // or not: Start says which one does not.
    for (int i = 0; i < ports_->count(); ++i) ports_->item(i)->setCheckState(Qt::Unchecked);
    int at = 0;
    for (const std::string& port : setup.ports) {
        auto found = ports_->findItems(Q(port), Qt::MatchExactly);
        QListWidgetItem* item = found.isEmpty() ? nullptr : found.front();
        if (!item) {
            item = new QListWidgetItem(Q(port));
            item->setToolTip("does not open now");
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        } else {
            ports_->takeItem(ports_->row(item));
        }
        ports_->insertItem(at++, item);
        item->setCheckState(Qt::Checked);
    }
    ShowPlan();
    ShowRecord();
}

StationSetup StationWindow::Current() const {
    StationSetup s;
    s.planFile = S(planFile_->text());
    for (std::size_t i = 0; i < 4; ++i) s.channels[i] = S(frequencies_[i]->text());
    s.kind = S(kind_->currentData().toString());
    s.ports = ChosenPorts();
    s.record = S(record_->text());
    s.station = S(stationName_->text());
    s.operatorName = S(operator_->text());
    return s;
}

std::vector<std::string> StationWindow::ChosenPorts() const {
    std::vector<std::string> out;
    for (int i = 0; i < ports_->count(); ++i) {
        if (ports_->item(i)->checkState() == Qt::Checked) out.push_back(S(ports_->item(i)->text()));
    }
    return out;
}

bool StationWindow::LoadPlanFile(const std::string& path) {
    std::string error;
    const PlanTexts plan = ReadPlanFile(path, &error);
    if (!error.empty()) {
        SetMessage(Q(error), true);
        return false;
    }
    for (std::size_t i = 0; i < 4; ++i) frequencies_[i]->setText(Q(plan[i]));
    planFile_->setText(Q(path));
    planFile_->setToolTip(Q(path));
    SetMessage(QString("Plan loaded from %1").arg(Q(path)), false);
    ShowPlan();
    return true;
}

void StationWindow::RefreshPorts() {
    const std::vector<std::string> chosen = ChosenPorts();
    ports_->clear();
    wire::QtSerialPort probe(places_.ports);
    for (const wire::SurveyedPort& p : wire::SurveyPorts(probe, probe.Names())) {
        if (!p.opens) continue;
        auto* item = new QListWidgetItem(Q(p.Name()), ports_);
        item->setToolTip(Q(wire::PortDescription(p.place, p.Name())));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    StationSetup keep = Current();
    keep.ports = chosen;
    const QString planFile = planFile_->text();
    keep.planFile.clear();
    Apply(keep);
    planFile_->setText(planFile);
}

std::string StationWindow::PlanProblem(const module::Kind& kind) const {
    PlanTexts plan;
    for (std::size_t i = 0; i < plan.size(); ++i) plan[i] = S(frequencies_[i]->text());
    std::string problems;
    for (const std::string& p : PlanProblems(kind, plan)) {
        problems += (problems.empty() ? "" : "; ") + p;
    }
    return problems;
}

void StationWindow::ShowPlan() {
    const StationSetup s = Current();
    const module::Kind* kind = s.kind.empty() ? nullptr : module::KindByName(s.kind);
    const module::Kind& shown = kind ? *kind : *module::Kinds().front();
    std::array<ChannelPlan, 4> plans;
    QString text = kind ? Q(kind->name) : QString("rx/tx");
    QString inexact;
    for (std::size_t i = 0; i < 4; ++i) {
        plans[i] = EvaluateChannel(shown, s.channels[i]);
        text += QString("   Ch%1 %2").arg(i).arg(s.channels[i].empty() ? "--" : Q(s.channels[i]));
        const ChannelPlan& c = plans[i];
        if (!s.channels[i].empty() && Inexact(c)) {
            inexact += QString("Ch%1 ! ").arg(i);
            inexact += c.makeable ? QString("makes %1 MHz, error %2 Hz")
                                        .arg(Q(channel::FormatFixed(c.producedMHz, 6)))
                                        .arg(Q(channel::FormatFixed(c.errorHz, 1)))
                                  : QString("cannot be made");
            inexact += "   ";
        }
    }
    planText_->setText(text + "  MHz");
    inexact_->setText(inexact.isEmpty() ? QString("Every channel is made exactly")
                                        : inexact.trimmed());
    picture_->SetPlan(plans, shown.bandLowMHz, shown.bandHighMHz);
}

void StationWindow::ShowRecord() {
    const StationSetup s = Current();
    const QString station = s.station.empty() ? QSysInfo::machineHostName() : Q(s.station);
    stationText_->setText(QString("Station: %1\nOperator: %2")
                              .arg(station, s.operatorName.empty() ? "--" : Q(s.operatorName)));
    QString where;
    if (assembly_.HasRecord()) {
        const record::RecordState r = assembly_.Record().State();
        where = QString("Record: %1\n%2 rows not yet sent").arg(Q(r.describe)).arg(r.unsent);
    } else {
        where =
            QString("Record: %1")
                .arg(s.record.empty() ? "CSV " + Q(DefaultRecordPath(places_.data)) : Q(s.record));
    }
    recordText_->setText(where);
}

void StationWindow::ShowCounters() {
    if (!assembly_.Line()) return;
    const Counts& t = assembly_.Line()->Total();
    passed_->setText(QString::number(t.passed));
    failed_->setText(QString::number(t.failed));
    skipped_->setText(QString::number(t.skipped));
    total_->setText(QString::number(t.passed + t.failed + t.skipped));
    const int judged = t.passed + t.failed;
    yield_->setText(judged == 0 ? QString("--")
                                : QString("%1 %").arg(100.0 * t.passed / judged, 0, 'f', 1));
    const std::optional<double> perHour = assembly_.Line()->PassedPerHour();
    perHour_->setText(perHour ? QString::number(*perHour, 'f', 0) : QString("--"));
}

void StationWindow::SetMessage(const QString& text, bool problem) {
    message_->setText(text);
    QFont f = message_->font();
    f.setBold(problem);
    message_->setFont(f);
    if (problem) {
        QAccessibleEvent alert(message_, QAccessible::Alert);
        QAccessible::updateAccessibility(&alert);
    }
}

QString StationWindow::Message() const {
    return message_->text();
}

void StationWindow::Lock(bool producing) {
    setupBox_->setEnabled(!producing);
    // In production the header shows what was set up; the tiles get the
    // room, so 24 of them fit beside the counters.
    setupColumn_->setVisible(!producing);
    start_->setEnabled(!producing);
    stop_->setEnabled(producing);
    (producing ? stop_ : start_)->setFocus();
}

void StationWindow::LayoutTiles(int count) {
    for (SocketTile* t : tiles_) delete t;
    tiles_.clear();
    const int columns = count <= 1 ? 1 : count <= 4 ? 2 : count <= 9 ? 3 : count <= 16 ? 4 : 6;
    for (int i = 0; i < count; ++i) {
        auto* tile = new SocketTile(i + 1, tileGrid_->parentWidget());
        tileGrid_->addWidget(tile, i / columns, i % columns);
        tileGrid_->setColumnStretch(i % columns, 1);
        tiles_.push_back(tile);
    }
}

bool StationWindow::StartProduction() {
    if (assembly_.Line()) return false;
    const StationSetup s = Current();
    for (const std::string& text : s.channels) {
        if (!IsPlainFrequency(text)) {
            SetMessage(Q("\"" + text + "\" is not a frequency in MHz"), true);
            return false;
        }
    }
    const module::Kind* fixed = s.kind.empty() ? nullptr : module::KindByName(s.kind);
    if (fixed) {
        const std::string problem = PlanProblem(*fixed);
        if (!problem.empty()) {
            SetMessage(Q(problem + " (plan refused)"), true);
            return false;
        }
    } else {
        std::string problem;
        bool everyKind = true;
        for (const module::Kind* k : module::Kinds()) {
            const std::string p = PlanProblem(*k);
            if (p.empty()) everyKind = false;
            problem += (problem.empty() || p.empty() ? "" : "; ") + p;
        }
        if (everyKind) {
            SetMessage(Q(problem + " (plan refused)"), true);
            return false;
        }
    }
    if (s.ports.empty()) {
        SetMessage("Choose the sockets first", true);
        return false;
    }
    // Two sockets on one device would fight over it: the second open fails
    // as if the first were another program.
    if (const std::string twice =
            wire::NamesOfOneDevice(s.ports, wire::QtSerialPort(places_.ports).Names());
        !twice.empty()) {
        SetMessage(Q(twice), true);
        return false;
    }
    const std::string stationName = s.station.empty() ? S(QSysInfo::machineHostName()) : s.station;
    std::string idError;
    const std::string stationId = record::StationId(places_.data, &idError);
    if (stationId.empty()) {
        SetMessage(Q("Record: " + idError), true);
        return false;
    }
    std::string error, warning;
    if (!assembly_.OpenRecord(RecordSinkOptions(s.record, places_.data, stationName, stationId),
                              &error, &warning)) {
        SetMessage(Q("Record: " + error), true);
        return false;
    }
    std::vector<std::string> problems;
    if (!assembly_.OpenPorts(s.ports, fixed, &problems)) {
        assembly_.TearDown();
        std::string all;
        for (const std::string& p : problems) all += (all.empty() ? "" : "; ") + p;
        SetMessage(Q(all), true);
        return false;
    }
    SocketsSetup setup;
    setup.plan = s.channels;
    setup.fixedKind = fixed;
    setup.station = stationName;
    setup.stationId = stationId;
    setup.operatorName = s.operatorName;
    setup.toolVersion = toolVersion_;
    StationObserver& observer = *this;
    assembly_.MakeStation(setup, observer);
    LayoutTiles(static_cast<int>(s.ports.size()));
    for (std::size_t i = 0; i < s.ports.size(); ++i) {
        tiles_[i]->SetPort(s.ports[i], assembly_.Devices()[i]);
    }
    failures_->clear();
    Lock(true);
    SaveSettings();
    // Rows spooled for another database are said once, at the start.
    SetMessage(QString("Production: %1 sockets").arg(s.ports.size()) +
                   (warning.empty() ? QString() : Q("; " + warning)),
               false);
    ShowRecord();
    assembly_.Line()->Start();
    if (assembly_.Line()) {
        ShowCounters();
        slowRefresh_->start();
    }
    return true;
}

bool StationWindow::StopProduction() {
    if (!assembly_.Line()) return true;
    QStringList busy;
    for (const auto& socket : assembly_.Line()->Sockets()) {
        if (Busy(socket->CurrentPhase())) busy << QString("Socket %1").arg(socket->Config().number);
    }
    if (!busy.isEmpty()) {
        const QString question =
            QString(
                "%1 %2 writing a module. Stop anyway? The module is recorded as "
                "interrupted and must be written again.")
                .arg(busy.join(", "), busy.size() == 1 ? "is" : "are");
        if (!confirm_(question)) return false;
    }
    assembly_.Line()->RequestStop();
    return true;
}

bool StationWindow::AcceptPlan(const Socket& socket, const module::Kind& kind) {
    const std::string problem = PlanProblem(kind);
    if (problem.empty()) return true;
    SetMessage(QString("Socket %1: %2 (plan refused)").arg(socket.Config().number).arg(Q(problem)),
               true);
    return false;
}

void StationWindow::OnAttempt(const Socket& socket, const record::Attempt& a, bool logged,
                              const std::string& recordError) {
    OnPhase(socket);
    ShowCounters();
    ShowRecord();
    if (!logged) SetMessage(Q("Record: " + recordError), true);
    if (a.operation == record::Operation::Info || a.result == record::Result::Pass ||
        a.result == record::Result::Skipped)
        return;
    auto* item = new QTreeWidgetItem;
    item->setText(0, QTime::currentTime().toString("HH:mm:ss"));
    item->setText(1, QString::number(a.socket));
    item->setText(2, Q(a.serial));
    item->setText(3, Q(!logged             ? "record: " + recordError
                       : a.message.empty() ? record::ToText(a.result)
                                           : a.message));
    item->setToolTip(3, item->text(3));
    failures_->insertTopLevelItem(0, item);
    while (failures_->topLevelItemCount() > kFailuresKept) {
        delete failures_->takeTopLevelItem(failures_->topLevelItemCount() - 1);
    }
}

void StationWindow::OnPhase(const Socket& socket) {
    // Tiles are drawn at most ten times a second: a socket's phases follow
    // each other within milliseconds, and 24 of them need not each cost a
    // paint. A result is shown at the next refresh, 100 ms at most later.
    const std::size_t at = static_cast<std::size_t>(socket.Config().number - 1);
    if (at >= tiles_.size()) return;
    dirty_.insert(at);
    if (!tileRefresh_->isActive()) tileRefresh_->start();
}

void StationWindow::RefreshTiles() {
    if (!assembly_.Line()) return;
    const auto& sockets = assembly_.Line()->Sockets();
    for (const std::size_t at : dirty_) {
        if (at < tiles_.size() && at < sockets.size()) tiles_[at]->Show(ViewOf(*sockets[at]));
    }
    dirty_.clear();
}

void StationWindow::OnStationEnded(const Station&) {
    // The station calls this from inside its sockets: it is taken down once
    // they have returned.
    QTimer::singleShot(0, this, [this] { TearDown(); });
}

void StationWindow::TearDown() {
    if (!assembly_.Line() || tearingDown_) return;
    tearingDown_ = true;
    slowRefresh_->stop();
    tileRefresh_->stop();
    ShowCounters();
    for (std::size_t i = 0; i < tiles_.size(); ++i) dirty_.insert(i);
    RefreshTiles();
    // Why production stopped stays on the message line: a record that could
    // not keep a row is the operator's to mend before Start.
    const std::string recordError = assembly_.Line()->RecordError();
    assembly_.TearDown();
    tearingDown_ = false;
    Lock(false);
    if (recordError.empty()) {
        SetMessage("Stopped: set-up mode", false);
    } else {
        SetMessage(Q("Stopped: set-up mode (record: " + recordError + ")"), true);
    }
    ShowRecord();
    if (closeWhenEnded_) close();
}

std::string StationWindow::SettingsPath() const {
    return places_.config + "/modstation.ini";
}

void StationWindow::LoadSettings() {
    QSettings ini(Q(SettingsPath()), QSettings::IniFormat);
    StationSetup s;
    s.planFile = S(ini.value("plan/file").toString());
    for (std::size_t i = 0; i < 4; ++i) {
        s.channels[i] =
            S(ini.value(QString("plan/ch%1").arg(i), channel::kDefaultFrequencies[i]).toString());
    }
    s.kind = S(ini.value("station/kind").toString());
    for (const QString& p : ini.value("station/sockets").toString().split(',', Qt::SkipEmptyParts))
        s.ports.push_back(S(p));
    s.record = S(ini.value("station/record").toString());
    s.station = S(ini.value("station/name").toString());
    s.operatorName = S(ini.value("station/operator").toString());
    Apply(s);
    // A plan file that has gone since keeps its frequencies.
    if (!s.planFile.empty() && planFile_->text().isEmpty()) planFile_->setText(Q(s.planFile));
    restoreGeometry(ini.value("window/geometry").toByteArray());
}

void StationWindow::SaveSettings() const {
    QSettings ini(Q(SettingsPath()), QSettings::IniFormat);
    const StationSetup s = Current();
    ini.setValue("plan/file", Q(s.planFile));
    for (std::size_t i = 0; i < 4; ++i) ini.setValue(QString("plan/ch%1").arg(i), Q(s.channels[i]));
    ini.setValue("station/kind", Q(s.kind));
    QStringList ports;
    for (const std::string& p : s.ports) ports << Q(p);
    ini.setValue("station/sockets", ports.join(','));
    ini.setValue("station/record", Q(s.record));
    ini.setValue("station/name", Q(s.station));
    ini.setValue("station/operator", Q(s.operatorName));
    ini.setValue("window/geometry", saveGeometry());
    ini.sync();
}

void StationWindow::closeEvent(QCloseEvent* event) {
    if (assembly_.Line()) {
        event->ignore();
        if (StopProduction()) closeWhenEnded_ = true;
        return;
    }
    SaveSettings();
    event->accept();
}

void StationWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) picture_->update();
}

}  // namespace station
