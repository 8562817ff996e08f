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

QtTimers::QtTimers() {
    for (std::size_t i = 0; i < timers_.size(); ++i) {
        const auto id = static_cast<TimerId>(i);
        timers_[i].setTimerType(id == TimerId::IntervalTimer ? Qt::CoarseTimer : Qt::PreciseTimer);
        QObject::connect(&timers_[i], &QTimer::timeout, [this, id] {
            if (handler_) handler_(id);
        });
    }
}

void QtTimers::TimerChanged(TimerId id, bool enabled, int intervalMs) {
    QTimer& t = timers_[static_cast<std::size_t>(id)];
    if (enabled) {
        t.start(intervalMs);  // restarts the countdown
    } else {
        t.stop();
    }
}

void QtTimers::StopAll() {
    for (QTimer& t : timers_) t.stop();
}

QString QtFilter(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList choices;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) continue;
        QString patterns = parts[i + 1];
        patterns.replace(';', ' ');
        choices << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
    }
    return choices.join(QStringLiteral(";;"));
}

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
    // The tool asks its own overwrite question.
    const QString name =
        QFileDialog::getSaveFileName(parent_, QString(), StartPath(initialFolder), QtFilter(filter),
                                     nullptr, QFileDialog::DontConfirmOverwrite);
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
    return box.exec() == QMessageBox::Ok;
}

QtPlatform::QtPlatform(store::FilePlaces places, std::string programName)
    : places_(std::move(places)), name_(std::move(programName)) {}

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
