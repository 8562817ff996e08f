// Screen readers and UI automation find every control through the
// accessibility tree, by a name that says what it is.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <map>

#include "fakes.h"
#include "form_window.h"
#include "layout.h"
#include "recv_profile.h"
#include "send_profile.h"

namespace {

// Every named object below the interface, by accessible name. An editable
// list is also linked to its label.
void Collect(QAccessibleInterface* node, std::multimap<std::string, QObject*>& found) {
    if (!node) return;
    std::string name = node->text(QAccessible::Name).toStdString();
    if (auto* combo = qobject_cast<QComboBox*>(node->object())) {
        // The port list is still known by its text, as the toolkit names it.
        if (combo->objectName() == "Combo1") name = combo->accessibleName().toStdString();
        bool labelled = false;
        for (const auto& relation : node->relations(QAccessible::Label)) {
            labelled = labelled || qobject_cast<QLabel*>(relation.first->object());
        }
        EXPECT_TRUE(labelled) << name << " has no label to be announced by";
    }
    if (!name.empty()) found.emplace(name, node->object());
    for (int i = 0; i < node->childCount(); ++i) Collect(node->child(i), found);
}

class EachTool : public ::testing::TestWithParam<std::string> {};
INSTANTIATE_TEST_SUITE_P(Tools, EachTool, ::testing::Values("recvsetup", "sendsetup"));

TEST_P(EachTool, EveryControlIsFoundByItsAccessibleName) {
    const window::ToolProfile& profile =
        GetParam() == "recvsetup" ? RecvSetupProfile() : SendSetupProfile();
    testing_support::Harness h(profile);
    window::FormWindow win(h.model);
    h.StartUp();
    win.Render();
    win.show();
    QApplication::processEvents();

    std::multimap<std::string, QObject*> found;
    Collect(QAccessible::queryAccessibleInterface(&win), found);

    for (const window::ControlEntry& entry : window::ControlTable(profile)) {
        std::string name = entry.accessibleName.empty() ? entry.caption : entry.accessibleName;
        // Buttons without a name of their own go by their caption.
        if (name.empty()) name = window::BoundControl(h.model, entry.name)->text;
        ASSERT_FALSE(name.empty()) << entry.name;
        const auto [first, last] = found.equal_range(name);
        ASSERT_NE(first, last) << entry.name << " as \"" << name << "\"";
        EXPECT_EQ(std::distance(first, last), 1) << "\"" << name << "\" names more than one";
        EXPECT_EQ(first->second->objectName().toStdString(), entry.name) << name;
    }
    // The step buttons and the boxes carry their channel.
    for (const char* name :
         {"Ch3 up", "Ch3 down", "Ch0 up", "Ch0 down", "Ch2 frequency", "Ch1 test"}) {
        EXPECT_EQ(found.count(name), 1u) << name;
    }
}

// What a screen reader hears: a frequency box by its channel with the value
// as its text, read-only identity boxes that do not offer to be edited, the
// register grid's headers by the row names, and an alert for each new
// status message.
TEST_P(EachTool, ScreenReadersHearTheChannelTheRowAndEachNewMessage) {
    const window::ToolProfile& profile =
        GetParam() == "recvsetup" ? RecvSetupProfile() : SendSetupProfile();
    testing_support::Harness h(profile);
    window::FormWindow win(h.model);
    h.StartUp();
    win.Render();
    win.show();
    QApplication::processEvents();
    const auto iface = [&win](const std::string& name) {
        return QAccessible::queryAccessibleInterface(
            win.findChild<QWidget*>(QString::fromStdString(name)));
    };

    QAccessibleInterface* box = iface(profile.frequencyControl + "_0");
    EXPECT_EQ(box->role(), QAccessible::ComboBox);
    EXPECT_EQ(box->text(QAccessible::Name).toStdString(), "Ch0 frequency");
    EXPECT_EQ(box->text(QAccessible::Value).toStdString(), "434.700");
    ASSERT_NE(box->textInterface(), nullptr);
    EXPECT_EQ(box->textInterface()->text(0, box->textInterface()->characterCount()).toStdString(),
              "434.700");

    for (const char* name : {"Version", "Serial", "FactoryDate"}) {
        QAccessibleInterface* identity = iface(name);
        EXPECT_EQ(identity->role(), QAccessible::EditableText) << name;
        EXPECT_FALSE(identity->state().editable) << name;
        EXPECT_TRUE(identity->state().readOnly) << name;
        EXPECT_EQ(identity->editableTextInterface(), nullptr) << name;
    }
    QAccessibleInterface* logName = iface("LogFileName");
    EXPECT_TRUE(logName->state().editable);

    QAccessibleTableInterface* grid = iface("MSFlexGrid1")->tableInterface();
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->columnDescription(0).toStdString(), "Register");
    EXPECT_EQ(grid->columnDescription(4).toStdString(), "Ch.3");
    EXPECT_EQ(grid->rowDescription(1).toStdString(), profile.Kind().registerNames.front());

    // The toolkit hands an alert on only while a screen reader listens,
    // which no test platform has; the window counts what it sent.
    const long before = win.Alerts();
    win.Handle([&] { h.model.T_Message.text = "Discrepancy!!"; });
    win.Handle([&] { h.model.L_Message.text = "Log File Write Error!!"; });
    EXPECT_EQ(win.Alerts(), before + 2);
    win.Handle([&] { h.model.T_Message.text.clear(); });  // nothing to announce
    win.Render();                                         // nothing new
    EXPECT_EQ(win.Alerts(), before + 2);
}

}  // namespace
