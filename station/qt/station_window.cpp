#include "station_window.h"

#include <QAccessible>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
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

#include "plan_picture.h"
#include "record_choice.h"
#include "socket_tile.h"

namespace station {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

std::string S(const QString& s) {
    return s.trimmed().toStdString();
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
      }),
      model_(parts_, {places_.data, toolVersion_, S(QSysInfo::machineHostName())},
             [this](std::function<void()> later) { QTimer::singleShot(0, this, std::move(later)); }) {
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
    setupHint_ = new QLabel(tiles);
    setupHint_->setObjectName("SetupHint");
    setupHint_->setAccessibleName("What to set up");
    setupHint_->setAlignment(Qt::AlignCenter);
    setupHint_->setWordWrap(true);
    QFont hint = setupHint_->font();
    hint.setPointSizeF(hint.pointSizeF() * 1.3);
    setupHint_->setFont(hint);
    tileGrid_->addWidget(setupHint_, 0, 0);
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
    connect(slowRefresh_, &QTimer::timeout, this, [this] { model_.Refresh(); });
    model_.onChanged = [this](unsigned changes) { Render(changes); };
    Render(~0u);
}

StationWindow::~StationWindow() {
    // The model stops and takes apart a running station as it goes; the
    // widgets are not drawn any more by then.
    model_.onChanged = nullptr;
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

    setupForm_ = form;
    for (int i = 0; i < module::kMaxChannels; ++i) {
        auto* box = new QLineEdit(setupBox_);
        box->setObjectName(QString("Ch%1").arg(i));
        box->setAccessibleName(QString("Ch%1 frequency").arg(i));
        box->setPlaceholderText("MHz");
        frequencies_[static_cast<std::size_t>(i)] = box;
        form->addRow(QString("Ch&%1 (MHz):").arg(i), box);
        connect(box, &QLineEdit::textChanged, this, [this, i](const QString& text) {
            if (!rendering_) model_.OnFrequencyEdited(i, S(text));
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
    connect(kind_, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] {
        if (!rendering_) model_.OnKindChosen(S(kind_->currentData().toString()));
    });

    ports_ = new QListWidget(setupBox_);
    ports_->setObjectName("Sockets");
    ports_->setAccessibleName("Sockets");
    ports_->setMinimumHeight(120);
    refreshPorts_ = new QPushButton("&Refresh ports", setupBox_);
    refreshPorts_->setObjectName("RefreshPorts");
    refreshPorts_->setAccessibleName("Refresh ports");
    connect(refreshPorts_, &QPushButton::clicked, this, [this] { RefreshPorts(); });
    connect(ports_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        if (!rendering_) model_.OnPortChosen(S(item->text()), item->checkState() == Qt::Checked);
    });
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
    connect(record_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!rendering_) model_.OnRecordEdited(S(text));
    });
    connect(stationName_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!rendering_) model_.OnStationEdited(S(text));
    });
    connect(operator_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!rendering_) model_.OnOperatorEdited(S(text));
    });
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
    failures_->header()->setSectionResizeMode(3, QHeaderView::Stretch);
    failures_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    failures_->setWordWrap(true);
    layout->addWidget(failures_, 1);
    box->setMaximumWidth(360);
    return box;
}

void StationWindow::Render(unsigned changes) {
    rendering_ = true;
    if (changes & kSetupChanged) ShowSetup();
    if (changes & kPortsChanged) ShowPorts();
    if (changes & kPlanChanged) ShowPlan();
    if (changes & (kRecordChanged | kSetupChanged)) ShowRecord();
    if (changes & kModeChanged) Lock(model_.Producing());
    if (changes & kTilesLaidOut) LayoutTiles();
    if ((changes & kTilesChanged) && !tileRefresh_->isActive()) tileRefresh_->start();
    if (changes & kCountersChanged) ShowCounters();
    if (changes & kFailuresChanged) ShowFailures();
    if (changes & kMessageChanged) ShowMessage();
    const QString hint = Q(model_.SetupHint());
    if (setupHint_->text() != hint) setupHint_->setText(hint);
    setupHint_->setVisible(!hint.isEmpty());
    rendering_ = false;
    if ((changes & kModeChanged) && !model_.Producing()) {
        slowRefresh_->stop();
        tileRefresh_->stop();
        if (closeWhenEnded_) QTimer::singleShot(0, this, [this] { close(); });
    }
}

void StationWindow::ShowSetup() {
    const StationSetup& s = model_.Current();
    const auto put = [](QLineEdit* box, const std::string& text) {
        // Only a real change: the operator's cursor stays where it was.
        if (S(box->text()) != text) box->setText(Q(text));
    };
    // Four fields, or as many as a plan file of more channels named.
    const std::size_t shown = std::max<std::size_t>(4, s.channels.size());
    for (std::size_t i = 0; i < frequencies_.size(); ++i) {
        put(frequencies_[i], i < s.channels.size() ? s.channels[i] : std::string());
        setupForm_->setRowVisible(frequencies_[i], i < shown);
    }
    put(planFile_, s.planFile);
    planFile_->setToolTip(Q(s.planFile));
    const int kind = kind_->findData(Q(s.kind));
    kind_->setCurrentIndex(kind < 0 ? 0 : kind);
    put(record_, s.record);
    put(stationName_, s.station);
    put(operator_, s.operatorName);
}

void StationWindow::ShowPorts() {
    ports_->clear();
    for (const PortChoice& p : model_.Ports()) {
        auto* item = new QListWidgetItem(Q(p.name), ports_);
        item->setToolTip(Q(p.tip));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(p.chosen ? Qt::Checked : Qt::Unchecked);
    }
}

void StationWindow::ShowPlan() {
    planText_->setText(Q(model_.PlanText()));
    planText_->setAccessibleDescription(planText_->text());
    inexact_->setText(Q(model_.PlanNotes()));
    inexact_->setAccessibleDescription(inexact_->text());
    const module::Kind& shown = model_.ShownKind();
    picture_->SetPlan(model_.PlanChannels(), shown);
}

void StationWindow::ShowRecord() {
    stationText_->setText(Q(model_.StationText()));
    stationText_->setAccessibleDescription(stationText_->text());
    recordText_->setText(Q(model_.RecordText()));
    recordText_->setAccessibleDescription(recordText_->text());
}

void StationWindow::ShowCounters() {
    const CounterTexts& c = model_.Counters();
    for (auto [label, text] : {std::pair{passed_, &c.passed},
                               {failed_, &c.failed},
                               {skipped_, &c.skipped},
                               {total_, &c.total},
                               {yield_, &c.yield},
                               {perHour_, &c.perHour}}) {
        const QString value = Q(*text);
        if (label->text() != value) label->setText(value);
        // A screen reader hears the figure, not only the counter's name.
        if (label->accessibleDescription() != value) label->setAccessibleDescription(value);
    }
}

void StationWindow::ShowFailures() {
    failures_->clear();
    QList<QTreeWidgetItem*> items;
    for (const FailureRow& f : model_.Failures()) {
        auto* item = new QTreeWidgetItem;
        item->setText(0, Q(f.time));
        item->setText(1, QString::number(f.socket));
        item->setText(2, Q(f.serial));
        item->setText(3, Q(f.reason));
        item->setToolTip(3, item->text(3));
        items << item;
    }
    failures_->addTopLevelItems(items);
}

void StationWindow::ShowMessage() {
    const MessageLine& m = model_.Message();
    message_->setText(Q(m.text));
    message_->setAccessibleDescription(message_->text());
    QFont f = message_->font();
    f.setBold(m.problem);
    message_->setFont(f);
    if (m.problem) {
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

void StationWindow::LayoutTiles() {
    for (SocketTile* t : tiles_) delete t;
    tiles_.clear();
    const std::vector<Tile>& tiles = model_.Tiles();
    const int count = static_cast<int>(tiles.size());
    const int columns = count <= 1 ? 1 : count <= 4 ? 2 : count <= 9 ? 3 : count <= 16 ? 4 : 6;
    for (int c = 0; c < 6; ++c) tileGrid_->setColumnStretch(c, c < columns ? 1 : 0);
    for (int i = 0; i < count; ++i) {
        auto* tile = new SocketTile(i + 1, tileGrid_->parentWidget());
        // Beyond nine sockets a tile gets its compact form: 24 fit a
        // 1366x768 screen with nothing cut.
        tile->SetCompact(count > 9);
        const Tile& t = tiles[static_cast<std::size_t>(i)];
        tile->SetPort(t.port, t.device);
        tile->Show(t.words);
        tileGrid_->addWidget(tile, i / columns, i % columns);
        tiles_.push_back(tile);
    }
}

void StationWindow::RefreshTiles() {
    // Tiles are drawn at most ten times a second: a socket's phases follow
    // each other within milliseconds, and 24 of them need not each cost a
    // paint. A result is shown at the next refresh, 100 ms at most later.
    const std::vector<Tile>& tiles = model_.Tiles();
    for (const std::size_t at : model_.TakeChangedTiles()) {
        if (at < tiles_.size() && at < tiles.size()) tiles_[at]->Show(tiles[at].words);
    }
}

bool StationWindow::StartProduction() {
    if (!model_.Start()) return false;
    SaveSettings();
    // Production takes the whole screen, unless the operator left the
    // window at a size of their own.
    if (!geometryRestored_ && !isMaximized()) showMaximized();
    if (model_.Producing()) slowRefresh_->start();
    RefreshTiles();
    return true;
}

bool StationWindow::StopProduction() {
    if (!model_.Producing()) return true;
    const std::string question = model_.StopQuestion();
    if (!question.empty() && !confirm_(Q(question))) return false;
    model_.Stop();
    return true;
}

std::string StationWindow::SettingsPath() const {
    return places_.config + "/modstation.ini";
}

void StationWindow::LoadSettings() {
    QSettings ini(Q(SettingsPath()), QSettings::IniFormat);
    StationSetup s;
    s.planFile = S(ini.value("plan/file").toString());
    // No plan until one is chosen: a plan nobody chose is not written into
    // a line's modules by a Start pressed out of habit.
    for (std::size_t i = 0; i < 4 || ini.contains(QString("plan/ch%1").arg(i)); ++i) {
        if (i >= s.channels.size()) s.channels.emplace_back();
        s.channels[i] = S(ini.value(QString("plan/ch%1").arg(i)).toString());
    }
    s.kind = S(ini.value("station/kind").toString());
    for (const QString& p : ini.value("station/sockets").toString().split(',', Qt::SkipEmptyParts))
        s.ports.push_back(S(p));
    s.record = S(ini.value("station/record").toString());
    s.station = S(ini.value("station/name").toString());
    s.operatorName = S(ini.value("station/operator").toString());
    Apply(s);
    // A plan file that has gone since keeps its frequencies.
    if (!s.planFile.empty() && Current().planFile.empty()) model_.KeepPlanFileName(s.planFile);
    geometryRestored_ = restoreGeometry(ini.value("window/geometry").toByteArray());
}

void StationWindow::SaveSettings() const {
    QSettings ini(Q(SettingsPath()), QSettings::IniFormat);
    const StationSetup s = Current();
    ini.setValue("plan/file", Q(s.planFile));
    for (std::size_t i = 0; i < s.channels.size(); ++i)
        ini.setValue(QString("plan/ch%1").arg(i), Q(s.channels[i]));
    // A plan of fewer channels than the one before leaves none of its own behind.
    for (std::size_t i = s.channels.size(); ini.contains(QString("plan/ch%1").arg(i)); ++i)
        ini.remove(QString("plan/ch%1").arg(i));
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
    if (model_.Producing()) {
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
