#pragma once

#include <string>
#include <vector>

#include "control.h"
#include "tool_profile.h"

namespace window {

class FormModel;

enum class ControlKind {
    Frame,
    Label,
    MessageLabel,  // red text
    CounterLabel,  // light grey, read-only value display
    TextBox,
    IdentityBox,  // grey, centred, filled by the module's replies
    ComboBox,     // editable drop-down list
    Button,
    UpArrow,
    DownArrow,
    CheckBox,
    Line,
    Grid,
    Term,
};

// One control of the window: its name (objectName; arrays as Name_i), kind,
// frame, place and size in twips inside the frame, and the caption of a
// static control.
struct ControlEntry {
    std::string name;
    ControlKind kind;
    std::string parent;  // frame name, or empty for the window itself
    long x, y, w, h;
    std::string caption;
    double fontPoints = 9.75;
    std::string accessibleName;  // for screen readers where the name says little
};

// Every control of the tool's window, frames before their contents.
std::vector<ControlEntry> ControlTable(const ToolProfile& profile);

// The keyboard focus order (disabled controls are skipped by the toolkit).
std::vector<std::string> FocusOrder(const ToolProfile& profile);

// Labels that name a box beside them (label, box): screen readers announce
// the box by its label.
std::vector<std::pair<std::string, std::string>> LabelledBoxes(const ToolProfile& profile);

// The model state a control shows, or nullptr for static controls.
Control* BoundControl(FormModel& model, const std::string& name);

// "ChTestSW_3" -> "ChTestSW", 3; a name without index gives -1.
std::pair<std::string, int> SplitControlName(const std::string& name);

}  // namespace window
