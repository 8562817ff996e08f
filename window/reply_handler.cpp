// The module's replies: received text is shown in Term, cut into reply lines
// and acted on. This is the only place replies are interpreted.
#include <cmath>
#include <cstdio>

#include "form_model.h"
#include "leading_number.h"
#include "reply_lines.h"
#include "text_encoding.h"

namespace window {

namespace {

constexpr std::size_t kTermLimit = 1000;

bool StartsWith(const std::string& line, const char* prefix) {
    return line.rfind(prefix, 0) == 0;
}

// A decimal channel field as a channel index, or -1 when it names no box
// (above 3, negative or not a whole number).
int DecimalChannel(std::string_view field) {
    const double c = channel::LeadingNumber(field);
    if (!(c >= 0 && c <= 3) || c != std::floor(c)) return -1;
    return static_cast<int>(c);
}

int HexChannel(std::string_view field) {
    const long long c = channel::LeadingHexNumber(field);
    return c <= 3 ? static_cast<int>(c) : -1;
}

}  // namespace

void FormModel::OnMSComm1Receive(wire::CommEvent event) {
    if (event == wire::CommEvent::Lost) {
        // A pulled cable is a port error now, not a "Not Response!!" at the
        // next tick or an error at the next click. The recovery may have run
        // already, through a write that failed on the dead device.
        if (port_.IsOpen()) PortErrorRecovery(nullptr);
        return;
    }
    if (event != wire::CommEvent::Receive) return;
    const std::string received = port_.ReadAll();
    AppendToTerm(received);
    RxBuffer += received;
    std::size_t consumed = 0;
    while (auto line = wire::CutReplyLine(RxBuffer, consumed)) {
        if (!DispatchReply(*line)) break;
    }
    RxBuffer.erase(0, consumed);
    wire::BoundReceivedText(RxBuffer);
}

void FormModel::AppendToTerm(const std::string& received) {
    // Term shows the received bytes one character each and keeps its last
    // 1000. Only the new bytes are converted; the oldest characters (one or
    // two UTF-8 bytes each) are cut from the front.
    AppendLatin1AsUtf8(Term.text, received);
    termChars_ += received.size();
    if (termChars_ > kTermLimit) {
        std::size_t cut = 0;
        for (std::size_t drop = termChars_ - kTermLimit; drop > 0; --drop) {
            cut += (static_cast<unsigned char>(Term.text[cut]) & 0x80) ? 2 : 1;
        }
        Term.text.erase(0, cut);
        termChars_ = kTermLimit;
    }
}

bool FormModel::DispatchReply(const std::string& line) {
    if (StartsWith(line, "*C")) OnFlashClearReply(line);
    if (StartsWith(line, "*D")) OnIdentityReply(line);
    if (profile_.hasCommonParam && StartsWith(line, "*M")) OnCommonParamReply(line);
    if (StartsWith(line, "*R") && !OnReadBackReply(line)) return false;
    if (StartsWith(line, "*T") && !OnTestEchoReply(line)) return false;
    if (StartsWith(line, "*V") && !OnVersionReply(line)) return false;
    if (StartsWith(line, "*W Err")) T_Message.text = profile_.writeErrorReplyMessage;
    if (StartsWith(line, "*W") && !OnWriteReply(line)) return false;
    return true;
}

void FormModel::OnFlashClearReply(const std::string& line) {
    if (line.size() >= 8) {
        Control& label = profile_.flashClearOnChannelLine ? T_Message : C_Message;
        const std::string_view result = wire::Field(line, 4, 5);
        if (result == "00") label.text.clear();
        if (result == "01") label.text = profile_.flashClearErrorMessage;
    }
    ReplyFlag = 1;
}

void FormModel::OnIdentityReply(const std::string& line) {
    const long long serial = 65536 * channel::LeadingHexNumber(wire::Field(line, 4, 5)) +
                             256 * channel::LeadingHexNumber(wire::Field(line, 6, 7)) +
                             channel::LeadingHexNumber(wire::Field(line, 8, 9));
    char digits[16];
    std::snprintf(digits, sizeof digits, "%08lld", serial);
    Serial.text = digits;
    Serial.back = Colour::Ok;
    FactoryDate.text = Latin1ToUtf8(std::string(wire::Field(line, 11, 20)));
    FactoryDate.back = Colour::Ok;
    if (profile_.hasOffsetBox) {
        FOffsetV.text = Latin1ToUtf8(std::string(wire::Field(line, 25, 26)));
        FOffsetV.back = Colour::Ok;
    }
    ReplyFlag = 1;
}

void FormModel::OnCommonParamReply(const std::string& line) {
    if (StartsWith(line, "*M Err")) T_Message.text = "Flash Write Error!";
    if (line.compare(0, 11, "*M " + CommonParam) != 0) T_Message.text = "Common Parameter Error!";
    ReplyFlag = 1;
}

bool FormModel::OnReadBackReply(const std::string& line) {
    const int c = HexChannel(wire::Field(line, 4, 5));
    if (c < 0) return false;
    ReplyFlag = 1;
    for (int k = 1; k <= profile_.RegisterRows(); ++k) {
        if (wire::Value(line, 7, k) != MSFlexGrid1.Cell(k, c + 1)) {
            T_Message.text = "Discrepancy!!";
            return false;
        }
    }
    Frequency[static_cast<std::size_t>(c)].back = Colour::Ok;
    if (profile_.hasCounters) ChStep[static_cast<std::size_t>(c)].back = Colour::Ok;
    return true;
}

bool FormModel::OnTestEchoReply(const std::string& line) {
    ReplyFlag = 1;
    for (int k = 1; k <= profile_.testEchoValues; ++k) {
        if (wire::Value(line, static_cast<std::size_t>(profile_.testEchoFirstPos), k) !=
            MSFlexGrid1.Cell(k, CurChannel + 1)) {
            T_Message.text = "Test Data error!!";
            return false;
        }
    }
    return true;
}

bool FormModel::OnVersionReply(const std::string& line) {
    if (line.size() < 19) return true;
    Version.text = Latin1ToUtf8(std::string(wire::Field(line, 4, 8)));
    Serial.text.clear();
    Serial.back = Colour::Blank;
    if (line[3] == profile_.kindLetter) {
        Version.back = Colour::Ok;
        ReplyFlag = 1;
        C_Message.text.clear();
    } else {
        Version.back = Colour::Blank;
        EnableGetInfoOnly();
        C_Message.text = "Target error!!";
    }
    return true;
}

bool FormModel::OnWriteReply(const std::string& line) {
    const std::string_view field = wire::Field(line, 4, 5);
    const int c = profile_.writeChannelHex ? HexChannel(field) : DecimalChannel(field);
    if (c < 0) return false;
    ReplyFlag = 1;
    for (int k = 1; k <= profile_.writeEchoValues; ++k) {
        if (wire::Value(line, 7, k) != MSFlexGrid1.Cell(k, CurChannel + 1)) {
            T_Message.text = "Flash Write Error!!";
            return false;
        }
    }
    Frequency[static_cast<std::size_t>(c)].back = Colour::Ok;
    if (profile_.hasCounters) ChStep[static_cast<std::size_t>(c)].back = Colour::Ok;
    return true;
}

}  // namespace window
