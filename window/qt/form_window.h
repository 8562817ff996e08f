#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "control.h"
#include "form_model.h"
#include "layout.h"

class QGroupBox;
class QTableWidget;

namespace window {

// The Qt face of FormModel: builds the widgets of the control table, forwards
// their events to the model's handlers and, after every handler, renders the
// model into the widgets. Only what changed is written, with the widget's
// signals blocked, so nothing flickers and no event echoes back.
class FormWindow : public QWidget {
  public:
    explicit FormWindow(FormModel& model, QWidget* parent = nullptr);

    // Runs a model handler, then renders. Every entry into the model goes
    // through here.
    void Handle(const std::function<void()>& handler);
    void Render();

    // Called with the model's shutdown done, just before the window goes.
    void SetClosedHandler(std::function<void()> handler) { closedHandler_ = std::move(handler); }

    QWidget* Widget(const std::string& name) const;
    // Widget writes made by Render since the window was built.
    long WidgetWrites() const { return widgetWrites_; }
    // New status messages announced to screen readers since the window was built.
    long Alerts() const { return alerts_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Bound {
        ControlEntry entry;
        QWidget* widget = nullptr;
        Control* control = nullptr;
        // What was rendered last, so only changes are written.
        Control shown;
        bool firstRender = true;
        QString termShown;  // what Term displays
        // A frequency box: what made it green, from the model.
        const std::string* greenMeaning = nullptr;
    };

    void Build();
    QWidget* MakeWidget(const ControlEntry& entry, QWidget* parent);
    void Connect(Bound& b);
    void RenderControl(Bound& b);
    void RenderGrid();
    void PaintGridHeaders();
    void RenderTerm(Bound& b);
    void RenderWindow();
    void ApplyBackground(Bound& b, Colour colour);
    // Called before w is enabled or disabled.
    void KeepFocusOffDisabled(QWidget* w, bool enabled);
    void KeepFocusOffHiddenFrame();
    // Puts the fixed colours and the status lines' red back over a theme
    // that has just changed.
    void FollowTheme();
    QColor QtColour(Colour colour) const;
    QSize ClientSize() const;

    FormModel& model_;
    std::vector<Bound> bound_;
    std::map<std::string, QWidget*> widgets_;
    QTableWidget* grid_ = nullptr;
    // What the grid shows: cell texts, column widths and alignments.
    std::vector<std::string> gridShown_;
    std::vector<int> gridWidthShown_;
    std::vector<Alignment> gridAlignmentShown_;
    QGroupBox* frame5_ = nullptr;
    // The control that had the focus when it was disabled; it gets the
    // focus back when enabled again.
    QWidget* parkedFocus_ = nullptr;
    bool shutDown_ = false;
    bool shownOnce_ = false;
    QSize sizeShown_;
    QPoint positionShown_{-1, -1};
    bool rendering_ = false;
    bool applyingPalette_ = false;  // our own palette writes are no theme change
    int frame5Hidden_ = -1;         // unknown before the first render
    bool themeFollowPending_ = false;
    // How often a render changed a widget, and how many new status messages
    // it announced to screen readers as alerts: what the tests count to see
    // that a render with nothing new touches nothing and announces nothing.
    long widgetWrites_ = 0;
    long alerts_ = 0;
    std::function<void()> closedHandler_;
};

}  // namespace window
