#pragma once

#include <QObject>
#include <QSerialPort>
#include <string>

#include "file_places.h"
#include "serial_port.h"
#ifdef __linux__
#include "port_assignment.h"
#else
#include "qt_listed_ports.h"
#endif

namespace wire {

// The serial line through QSerialPort. COMn is mapped to a device by the
// suite's folders of COM names, else by FixedDevicePath. Two things
// QSerialPort does not do for us:
//  - pseudo-terminals and some USB adapters have no modem lines; a DTR or RTS
//    request there is not a failure;
//  - a device that vanished (cable out, peer closed) makes QSerialPort report
//    ReadError/ResourceError over and over while its notifier stays armed. We
//    let go of the device at the first such error, report CommEvent::Lost
//    once, and fail every later write and RTS request, while the port still
//    counts as open until it is closed. However the loss is first noticed
//    (a read, a write, a modem line), the reason is the same one text.
// On Linux, opening also gives USB serial adapters plugged in since the last
// look their lasting COM names (port_assignment.h), and a failed open says
// why in words with the fix (port_failure.h).
class QtSerialPort : public QObject, public SerialPort {
  public:
    explicit QtSerialPort(store::PortFolders folders, QObject* parent = nullptr);
    ~QtSerialPort() override;

    void SetPortNumber(int n) override;
    bool SetDtr(bool on) override;
    bool SetRts(bool on) override;
    bool Open() override;
    void Close() override;
    bool IsOpen() const override;
    bool Write(const std::string& bytes) override;
    std::string ReadAll() override;
    LineSettings Settings() const override { return {}; }
    std::string LastError() const override { return lastError_; }

    // The path the current port number opens.
    std::string DevicePath() const;
    // The COM names this port opens by, for a survey of them: the same map
    // the opens go through, brought up to date by each pass over the names.
    const PortDirectory& Names() const { return names_; }
    // Opens this device whatever the port number; empty goes back to the
    // COMn mapping. For programs that are given a device path.
    void SetDeviceOverride(std::string path) { deviceOverride_ = std::move(path); }

  private:
    bool ApplyModemLine(bool dtr, bool on);
    void OnError(QSerialPort::SerialPortError error);
    void Fail(const QString& reason);
    // Whether the open device went away (its node removed or replaced, or
    // the line hung up); then LoseDevice lets go of it. FailWhileOpen says
    // why an operation on the open port failed.
    bool DeviceGone() const;
    void FailWhileOpen();
    void LoseDevice(const QString& reason);
    QString GoneText() const;

    std::string deviceOverride_;
    QSerialPort port_;
    int portNumber_ = 1;
    // Modem lines asked for before opening; raised by Open(). Discovery asks
    // for none, so probing a port leaves its lines as they are.
    int dtrRequest_ = -1;
    int rtsRequest_ = -1;
    bool lost_ = false;  // the device went away while open
    std::string lastError_;
    std::string openDevice_;      // the device opened, as it was found at the open
    unsigned long openNode_ = 0;  // its device number then
#ifdef __linux__
    PortNames names_;
    int lastOpened_ = 256;  // the port number of the last open
#else
    QtListedPorts names_;
#endif
};

}  // namespace wire
