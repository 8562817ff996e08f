#pragma once

#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <string>

#include "file_places.h"
#include "qt_timers.h"
#include "seams.h"

namespace window {

// File dialogs and the overwrite question.
class QtDialogs : public Dialogs {
  public:
    void SetParent(QWidget* parent) { parent_ = parent; }
    std::optional<std::string> OpenFileName(const std::string& filter,
                                            const std::string& initialFolder) override;
    std::optional<std::string> SaveFileName(const std::string& filter,
                                            const std::string& initialFolder) override;
    bool AskOkCancel(const std::string& title, const std::string& text) override;

  private:
    QString StartPath(const std::string& initialFolder) const;
    QWidget* parent_ = nullptr;
    QString lastFile_;  // the dialog remembers the last chosen name
};

// Facts about the program and the system, from Qt.
class QtPlatform : public Platform {
  public:
    // names: the map the window's port opens through.
    QtPlatform(store::FilePlaces places, std::string programName, const wire::PortDirectory& names);
    std::string ProgramName() const override { return name_; }
    std::string ConfigFolder() const override { return places_.config; }
    std::string DataFolder() const override { return places_.data; }
    ProgramVersion Version() const override;
    long ScreenWidth() const override;
    long ScreenHeight() const override;
    char DecimalSeparator() const override;
    std::string DateText() const override;
    std::string TimeText() const override;
    const wire::PortDirectory& PortNames() const override { return names_; }

  private:
    store::FilePlaces places_;
    std::string name_;
    const wire::PortDirectory& names_;
};

// "Freq. Table File(*.tbl)|*.tbl|All File|*.*|" -> Qt's "name (*.tbl);;..." form.
QString QtFilter(const std::string& filter);

}  // namespace window
