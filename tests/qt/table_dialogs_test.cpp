// The table file dialogs as the operator meets them: a table saved under a
// bare name can be found by the Load dialog, and Enter on the overwrite
// question keeps the old table.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "qt_seams.h"
#include "scratch_folder.h"

namespace {

const std::string kFilter = "Freq. Table File(*.tbl)|*.tbl|All File|*.*|";

// Runs what the operator does once the dialog has opened.
template <typename Dialog>
void WhenOpen(std::function<void(Dialog*)> act) {
    QTimer::singleShot(0, [act] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        act(dialog);
    });
}

TEST(TableDialogs, ABareNameGetsTheChosenFiltersExtension) {
    const ScratchFolder folder("table-dialogs");
    const struct {
        const char* typed;
        const char* filter;  // nullptr: the first, the table filter
        const char* saved;
    } cases[] = {
        {"plan1", nullptr, "plan1.tbl"},
        {"plan2.tbl", nullptr, "plan2.tbl"},
        {"plan3.txt", nullptr, "plan3.txt"},
        {"plan4", "All File (*)", "plan4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        window::QtDialogs dialogs;
        WhenOpen<QFileDialog>([&c](QFileDialog* dialog) {
            if (c.filter) dialog->selectNameFilter(QString::fromUtf8(c.filter));
            dialog->selectFile(QString::fromUtf8(c.typed));
            QMetaObject::invokeMethod(dialog, "accept");  // as the Save button does
        });
        const auto name = dialogs.SaveFileName(kFilter, folder.Path());
        ASSERT_TRUE(name.has_value());
        EXPECT_EQ(*name, folder.Path() + "/" + c.saved);
    }
}

TEST(TableDialogs, EnterOnTheOverwriteQuestionAnswersCancel) {
    window::QtDialogs dialogs;
    WhenOpen<QMessageBox>([](QMessageBox* box) {
        EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Cancel));
        QTest::keyClick(box, Qt::Key_Return);
    });
    EXPECT_FALSE(
        dialogs.AskOkCancel("Save frequency table.", "plan1.tbl\r\nThis file already exists."));
    WhenOpen<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); });
    EXPECT_TRUE(dialogs.AskOkCancel("Save frequency table.", "plan1.tbl"));
}

}  // namespace
