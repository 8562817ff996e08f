#include "qt_serial_port.h"

#include <QFileInfo>

#ifdef __linux__
#include <sys/stat.h>
#include <termios.h>

#include <cerrno>

#include "port_failure.h"
#endif

namespace wire {

namespace {

#ifdef __linux__
const DeviceFacts& SystemFacts() {
    static const SystemDeviceFacts facts;
    return facts;
}
#endif

}  // namespace

QtSerialPort::QtSerialPort(store::PortFolders folders, QObject* parent)
    : QObject(parent)
#ifdef __linux__
      ,
      names_(std::move(folders), SystemFacts())
#endif
{
#ifndef __linux__
    (void)folders;  // Windows names its ports itself
#endif
    QObject::connect(&port_, &QSerialPort::readyRead, this,
                     [this] { NotifyReceive(CommEvent::Receive); });
    QObject::connect(&port_, &QSerialPort::errorOccurred, this,
                     [this](QSerialPort::SerialPortError e) { OnError(e); });
}

QtSerialPort::~QtSerialPort() {
    port_.close();
}

void QtSerialPort::SetPortNumber(int n) {
    portNumber_ = n;
}

std::string QtSerialPort::DevicePath() const {
    if (!deviceOverride_.empty()) return deviceOverride_;
#ifdef __linux__
    return names_.PathOf(portNumber_);
#else
    return FixedDevicePath(portNumber_);
#endif
}

bool QtSerialPort::SetDtr(bool on) {
    if (!port_.isOpen() && !lost_) dtrRequest_ = on ? 1 : 0;
    return ApplyModemLine(true, on);
}

bool QtSerialPort::SetRts(bool on) {
    if (!port_.isOpen() && !lost_) rtsRequest_ = on ? 1 : 0;
    return ApplyModemLine(false, on);
}

bool QtSerialPort::ApplyModemLine(bool dtr, bool on) {
    if (lost_) {
        Fail(GoneText());
        return false;
    }
    // Before opening, the lines are remembered and raised by Open().
    if (!port_.isOpen()) return true;
    const bool ok = dtr ? port_.setDataTerminalReady(on) : port_.setRequestToSend(on);
    if (ok) return true;
    if (port_.error() == QSerialPort::UnsupportedOperationError) {
        // No modem lines on this device (a pseudo-terminal): nothing to drive.
        port_.clearError();
        return true;
    }
    FailWhileOpen();
    return false;
}

bool QtSerialPort::Open() {
    // The lines asked for belong to this open only: a failed open must not
    // leave them for discovery to raise on some other port.
    const int dtrRequest = dtrRequest_;
    const int rtsRequest = rtsRequest_;
    dtrRequest_ = rtsRequest_ = -1;
    if (port_.isOpen() || lost_) {
        Fail(QStringLiteral("the port is already open"));
        return false;
    }
#ifdef __linux__
    // An adapter plugged in since the last look gets its COM name before the
    // name is looked up. Discovery opens COM1 to COM255 in a row: one look
    // at the device trees serves the whole pass (a look costs some 7 us,
    // which 255 times would double the time the port list takes to drop
    // down); any open of a lower or the same number starts a new one.
    if (deviceOverride_.empty() && portNumber_ <= lastOpened_) names_.Refresh();
    lastOpened_ = portNumber_;
#endif
    const QString path = QString::fromStdString(DevicePath());
    // QSerialPort takes a lock file (written and synced to disk) before it
    // even looks for the device; discovery would pay that for every one of
    // the 255 names. A device that is not there fails here, at once.
    if (!QFileInfo::exists(path)) {
#ifdef __linux__
        PortFailure gone;
        gone.problem = PortProblem::NoDevice;
        gone.device = path.toStdString();
        Fail(QString::fromStdString(PortFailureText(gone)));
#else
        Fail(QStringLiteral("%1: no such device").arg(path));
#endif
        return false;
    }
    // Open the device itself, not the ports/ link, so that its lock file is
    // named after the device and two links to one device still exclude each
    // other.
    const QString canonical = QFileInfo(path).canonicalFilePath();
#ifdef __linux__
    // An adapter with a COM name of its own is not offered again under the
    // fixed name of whatever tty it has today: one adapter, one name.
    if (deviceOverride_.empty() && !names_.EntryOf(portNumber_)) {
        const int owner = names_.NumberOfDevice(canonical.toStdString());
        if (owner != 0 && owner != portNumber_) {
            Fail(QStringLiteral("%1 is COM%2 now: its COM name stays with the adapter")
                     .arg(canonical)
                     .arg(owner));
            return false;
        }
    }
#endif
    const QString device = canonical.isEmpty() ? path : canonical;
    port_.setPortName(device);
    port_.setBaudRate(QSerialPort::Baud4800);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    port_.setReadBufferSize(0);  // the reply parser drains it at every notification
    port_.clearError();
    if (!port_.open(QIODevice::ReadWrite)) {
#ifdef __linux__
        // QSerialPort calls a lock held by another program a permission
        // error; the device's own permissions and its holder tell them apart.
        PortFailure failure = DiagnosePortFailure(device.toStdString(), SystemFacts(),
                                                  port_.error() == QSerialPort::PermissionError,
                                                  port_.errorString().toStdString());
        if (port_.error() == QSerialPort::DeviceNotFoundError) {
            failure.problem = PortProblem::NoDevice;
        }
        Fail(QString::fromStdString(PortFailureText(failure)));
#else
        QString reason = port_.errorString();
        if (port_.error() == QSerialPort::PermissionError) {
            reason += QStringLiteral(
                          " (the user must belong to the group that owns %1, usually 'dialout')")
                          .arg(port_.portName());
        } else if (port_.error() == QSerialPort::DeviceNotFoundError) {
            reason = QStringLiteral("%1: no such device").arg(path);
        }
        Fail(reason);
#endif
        return false;
    }
    openDevice_ = device.toStdString();
    openNode_ = 0;
#ifdef __linux__
    struct stat st {};
    if (::stat(openDevice_.c_str(), &st) == 0) openNode_ = st.st_rdev;
#endif
    const bool linesOk = (dtrRequest < 0 || ApplyModemLine(true, dtrRequest == 1)) &&
                         (rtsRequest < 0 || ApplyModemLine(false, rtsRequest == 1));
    if (!linesOk) {
        port_.close();
        return false;
    }
    lastError_.clear();
    return true;
}

void QtSerialPort::Close() {
    lost_ = false;
    if (port_.isOpen()) port_.close();
}

bool QtSerialPort::IsOpen() const {
    return port_.isOpen() || lost_;
}

bool QtSerialPort::Write(const std::string& bytes) {
    if (lost_ || !port_.isOpen()) {
        Fail(lost_ ? GoneText() : QStringLiteral("the port is not open"));
        return false;
    }
    const qint64 written = port_.write(bytes.data(), static_cast<qint64>(bytes.size()));
    if (written != static_cast<qint64>(bytes.size())) {
        FailWhileOpen();
        return false;
    }
    // Hand the bytes to the device now, without waiting, so a tick's command
    // leaves in the tick that sent it.
    port_.flush();
    if (lost_) return false;
    return true;
}

std::string QtSerialPort::ReadAll() {
    if (!port_.isOpen()) return {};
    const QByteArray data = port_.readAll();
    return std::string(data.constData(), static_cast<std::size_t>(data.size()));
}

void QtSerialPort::OnError(QSerialPort::SerialPortError error) {
    switch (error) {
        case QSerialPort::ResourceError:
        case QSerialPort::ReadError:
        case QSerialPort::WriteError:
            if (port_.isOpen()) LoseDevice(DeviceGone() ? GoneText() : port_.errorString());
            break;
        default:
            break;
    }
}

void QtSerialPort::Fail(const QString& reason) {
    lastError_ = reason.toStdString();
}

bool QtSerialPort::DeviceGone() const {
#ifdef __linux__
    if (openDevice_.empty()) return false;
    struct stat st {};
    if (::stat(openDevice_.c_str(), &st) != 0 || st.st_rdev != openNode_) return true;
    // The node may outlive the device for a moment; the line is hung up
    // from the first.
    termios settings{};
    const auto fd = static_cast<int>(port_.handle());
    if (fd < 0 || ::tcgetattr(fd, &settings) == 0) return false;
    return errno == EIO || errno == ENXIO || errno == ENODEV;
#else
    return false;
#endif
}

void QtSerialPort::FailWhileOpen() {
    // The failing call may have signalled the loss itself: its reason stands.
    if (lost_) return;
    if (DeviceGone()) {
        LoseDevice(GoneText());
    } else {
        Fail(port_.errorString());
    }
}

void QtSerialPort::LoseDevice(const QString& reason) {
    if (lost_) return;
    Fail(reason);
    // Stop listening: a dead device would otherwise signal an error hundreds
    // of thousands of times a second.
    lost_ = true;
    port_.close();
    // Told after the handler that is running now (a write may be what
    // noticed it), so the model sees one event at a time.
    QMetaObject::invokeMethod(
        this, [this] { NotifyReceive(CommEvent::Lost); }, Qt::QueuedConnection);
}

QString QtSerialPort::GoneText() const {
#ifdef __linux__
    PortFailure gone;
    gone.problem = PortProblem::Gone;
    gone.device = openDevice_;
    return QString::fromStdString(PortFailureText(gone));
#else
    return QStringLiteral("%1: the device is gone; plug the adapter in again")
        .arg(QString::fromStdString(openDevice_));
#endif
}

}  // namespace wire
