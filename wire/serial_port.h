#pragma once

#include <functional>
#include <string>
#include <vector>

namespace wire {

// Receive: bytes arrived. Lost: the device went away while the port was
// open (adapter pulled, peer closed); it is reported once, after the handler
// that was running when it was noticed has ended.
enum class CommEvent { Receive, Lost };

// The line to the module: 4800 baud, no parity, 8 data bits, 1 stop bit.
struct LineSettings {
    int baudRate = 4800;
    char parity = 'n';
    int dataBits = 8;
    int stopBits = 1;
};
constexpr int kBaudRate = 4800;

// The serial line to the module: exactly what the tools need. Every
// operation that can fail says so; nothing is swallowed here.
class SerialPort {
  public:
    virtual ~SerialPort() = default;

    // Port n (1..255) is used by the next open.
    virtual void SetPortNumber(int n) = 0;

    virtual bool SetDtr(bool on) = 0;
    virtual bool SetRts(bool on) = 0;
    virtual bool Open() = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    // Bytes go out one to one: the lead-in byte is the single byte 0x80.
    virtual bool Write(const std::string& bytes) = 0;
    // Everything received so far; the input buffer is emptied.
    virtual std::string ReadAll() = 0;

    virtual LineSettings Settings() const = 0;

    // Why the last failing operation failed, for the operator's tooltip.
    virtual std::string LastError() const = 0;

    // Called on arrival of data and when the device goes away.
    void SetReceiveHandler(std::function<void(CommEvent)> handler) {
        receiveHandler_ = std::move(handler);
    }

  protected:
    void NotifyReceive(CommEvent event) {
        if (receiveHandler_) receiveHandler_(event);
    }

  private:
    std::function<void(CommEvent)> receiveHandler_;
};

// One tick of the sequences: 10^6 / speed ms (times factor), rounded half to
// even; 208 ms at 4800 baud, 146 ms for the check's factor 0.7. A speed of 0
// gives the longest interval a timer takes rather than a division by zero.
int TickPeriod(int lineSpeed, double factor = 1.0);

// "COM1".."COM255" -> 1..255; anything else (also "com3", "COM03", "COM0",
// "COM256", " COM3") -> 0.
int PortNumberFromName(const std::string& name);

// "COM5-COM12" or "COM5,COM7" as the names they stand for, in that order;
// empty with the reason in *error when the text is neither, or names a port
// twice.
std::vector<std::string> ExpandPortNames(const std::string& text, std::string* error);

// The device a COM name stands for without an entry in a folder of COM
// names: on Windows the name itself; on Linux COM1-4 /dev/ttyS0-3, COM5-12
// /dev/ttyUSB0-7, COM13-16 /dev/ttyACM0-3, COM17 onwards continuing through
// the same families in turn.
std::string FixedDevicePath(int n);

}  // namespace wire
