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
// list reports its text as its name on Linux and is announced through the
// label it is linked to; automation finds it by the name it carries.
void Collect(QAccessibleInterface* node, std::multimap<std::string, QObject*>& found) {
    if (!node) return;
    std::string name = node->text(QAccessible::Name).toStdString();
    if (auto* combo = qobject_cast<QComboBox*>(node->object())) {
        name = combo->accessibleName().toStdString();
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

}  // namespace
