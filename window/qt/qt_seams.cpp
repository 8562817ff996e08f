#include "qt_seams.h"

#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QTime>

#include "twips.h"

namespace window {

QString QtFilter(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList choices;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) continue;
        QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
        // "*.*" means every file; on Linux it would pass only names with a dot.
        for (QString& pattern : patterns) {
            if (pattern == QStringLiteral("*.*")) pattern = QStringLiteral("*");
        }
        const QString joined = patterns.join(' ');
        // A name that already ends in its patterns ("Freq. Table File(*.tbl)")
        // is shown as it is; the dialog takes the patterns from its brackets.
        if (parts[i].endsWith(QStringLiteral("(%1)").arg(joined))) {
            choices << parts[i];
        } else {
            choices << QStringLiteral("%1 (%2)").arg(parts[i], joined);
        }
    }
    return choices.join(QStringLiteral(";;"));
}

namespace {

// The extension a name filter stands for: "tbl" for "Freq. Table File(*.tbl)",
// nothing for "All File (*)".
QString SuffixOf(const QString& nameFilter) {
    const int open = nameFilter.lastIndexOf('(');
    const int close = nameFilter.lastIndexOf(')');
    if (open < 0 || close < open) return QString();
    const QString first =
        nameFilter.mid(open + 1, close - open - 1).split(' ', Qt::SkipEmptyParts).value(0);
    if (!first.startsWith(QStringLiteral("*."))) return QString();
    const QString suffix = first.mid(2);
    const bool plain = !suffix.isEmpty() && !suffix.contains('*') && !suffix.contains('?') &&
                       !suffix.contains('[');
    return plain ? suffix : QString();
}

// A save dialog that gives a name typed without an extension the one of the
// chosen filter: "plan1" with the table filter is saved as "plan1.tbl",
// which the Load dialog's table filter shows.
class SaveDialog : public QFileDialog {
  public:
    using QFileDialog::QFileDialog;
    void accept() override {
        setDefaultSuffix(SuffixOf(selectedNameFilter()));
        QFileDialog::accept();
    }
};

}  // namespace

QString QtDialogs::StartPath(const std::string& initialFolder) const {
    return lastFile_.isEmpty() ? QString::fromStdString(initialFolder) : lastFile_;
}

std::optional<std::string> QtDialogs::OpenFileName(const std::string& filter,
                                                   const std::string& initialFolder) {
    const QString name = QFileDialog::getOpenFileName(parent_, QString(), StartPath(initialFolder),
                                                      QtFilter(filter));
    if (name.isEmpty()) return std::nullopt;
    lastFile_ = name;
    return QDir::toNativeSeparators(name).toStdString();
}

std::optional<std::string> QtDialogs::SaveFileName(const std::string& filter,
                                                   const std::string& initialFolder) {
    SaveDialog dialog(parent_, QString(), StartPath(initialFolder), QtFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The tool asks its own overwrite question.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setDefaultSuffix(SuffixOf(dialog.selectedNameFilter()));
    QObject::connect(
        &dialog, &QFileDialog::filterSelected, &dialog,
        [&dialog](const QString& chosen) { dialog.setDefaultSuffix(SuffixOf(chosen)); });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    const QString name = dialog.selectedFiles().constFirst();
    if (name.isEmpty()) return std::nullopt;
    lastFile_ = name;
    return QDir::toNativeSeparators(name).toStdString();
}

bool QtDialogs::AskOkCancel(const std::string& title, const std::string& text) {
    QString shown = QString::fromStdString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace('\r', '\n');
    QMessageBox box(QMessageBox::Warning, QString::fromStdString(title), shown,
                    QMessageBox::Ok | QMessageBox::Cancel, parent_);
    // Enter must not overwrite a table: it answers Cancel.
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

QtPlatform::QtPlatform(store::FilePlaces places, std::string programName,
                       const wire::PortDirectory& names)
    : places_(std::move(places)), name_(std::move(programName)), names_(names) {}

ProgramVersion QtPlatform::Version() const {
    return {SETUP_VERSION_MAJOR, SETUP_VERSION_MINOR, SETUP_VERSION_PATCH};
}

long QtPlatform::ScreenWidth() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? PixelsToTwips(screen->geometry().width()) : 0;
}

long QtPlatform::ScreenHeight() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? PixelsToTwips(screen->geometry().height()) : 0;
}

char DecimalSeparatorOf(const QLocale& locale) {
    const QString point = locale.decimalPoint();
    return point.size() == 1 && point[0].unicode() < 0x80 ? static_cast<char>(point[0].unicode())
                                                          : '.';
}

char QtPlatform::DecimalSeparator() const {
    return DecimalSeparatorOf(QLocale::system());
}

std::string QtPlatform::DateText() const {
    return QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat).toStdString();
}

std::string QtPlatform::TimeText() const {
    // The short time format, with seconds added where it has none.
    QString format = QLocale::system().timeFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1Char('s'))) {
        const int minutes = format.lastIndexOf(QStringLiteral("mm"));
        if (minutes >= 0) format.insert(minutes + 2, QStringLiteral(":ss"));
    }
    return QLocale::system().toString(QTime::currentTime(), format).toStdString();
}

}  // namespace window
