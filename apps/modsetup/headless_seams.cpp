#include "headless_seams.h"

#include <QDateTime>

namespace modsetup {

window::ProgramVersion HeadlessPlatform::Version() const {
    return {SETUP_VERSION_MAJOR, SETUP_VERSION_MINOR, SETUP_VERSION_PATCH};
}

std::string HeadlessPlatform::DateText() const {
    return QDate::currentDate().toString(Qt::ISODate).toStdString();
}

std::string HeadlessPlatform::TimeText() const {
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).toStdString();
}

std::string ToolVersionText() {
    return std::to_string(SETUP_VERSION_MAJOR) + "." + std::to_string(SETUP_VERSION_MINOR) + "." +
           std::to_string(SETUP_VERSION_PATCH);
}

}  // namespace modsetup
