#pragma once

class QWidget;

namespace window {

// Where the toolkit tells screen readers something untrue about a control of
// this window, the control is marked and its answer corrected:
//  - NamedList: an editable list on Linux reports its text as its name; it
//    is named by its accessible name instead (its text stays its value, and
//    the text of its edit field is its text);
//  - ReadOnlyBox: a read-only text box reports itself as editable and offers
//    to be edited; it reports read-only only.
// Everything else (role, children, actions, states) is the toolkit's own.
enum class AccessibleOverride { NamedList, ReadOnlyBox };
void OverrideAccessible(QWidget* widget, AccessibleOverride what);

}  // namespace window
