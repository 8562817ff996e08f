#pragma once

#include <string>
#include <vector>

namespace wire {

// What the tools write to the module. Text commands end with CR.
extern const std::string kLeadInByte;  // the single byte 0x80, no terminator
extern const std::string kEndOfTest;   // "*", no terminator (transmitter test)

std::string VersionCommand();                                     // "/V" CR
std::string IdentityCommand();                                    // "/D" CR
std::string TestCommand(const std::vector<std::string>& values);  // "/T v1,...,vn" CR
std::string ReadCommand(int channel);                             // "/R 0n" CR
std::string WriteCommand(int channel);                            // "/W 0n" CR
std::string ReadCommonCommand();                                  // "/M" CR
std::string WriteCommonCommand(const std::string& commonParam);   // "/M 06,29,B8" CR

}  // namespace wire
