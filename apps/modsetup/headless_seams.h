#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>

#include "seams.h"

namespace modsetup {

// Nobody to ask: every dialog is cancelled. The programmer never presses
// Load or Save; it reads the plan itself.
class HeadlessDialogs : public window::Dialogs {
  public:
    std::optional<std::string> OpenFileName(const std::string&, const std::string&) override {
        return std::nullopt;
    }
    std::optional<std::string> SaveFileName(const std::string&, const std::string&) override {
        return std::nullopt;
    }
    bool AskOkCancel(const std::string&, const std::string&) override { return false; }
};

// Facts about the program without a screen.
class HeadlessPlatform : public window::Platform {
  public:
    // Source builds keep everything beside the program, as the windows do;
    // packages keep ports/ in the config folder and the log in the data folder.
    HeadlessPlatform(std::string configFolder, std::string dataFolder, std::string name)
        : config_(std::move(configFolder)), data_(std::move(dataFolder)), name_(std::move(name)) {}
    std::string ConfigFolder() const override { return config_; }
    std::string DataFolder() const override { return data_; }
    std::string ProgramName() const override { return name_; }
    window::ProgramVersion Version() const override;
    long ScreenWidth() const override { return 0; }
    long ScreenHeight() const override { return 0; }
    char DecimalSeparator() const override { return '.'; }
    std::string DateText() const override;
    std::string TimeText() const override;

  private:
    std::string config_;
    std::string data_;
    std::string name_;
};

std::string ToolVersionText();

}  // namespace modsetup
