#pragma once

// Running a Debian client program (curl, a Modbus client in python3) against
// a door on 127.0.0.1 and reading its output: the doors' tests and the
// end-to-end tests of the programs that open them.

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace doorstest {

struct Output {
    int status = -1;  // the program's exit status
    std::string text;
};

// Runs a shell command line and collects its standard output.
inline Output Run(const std::string& command) {
    Output out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.text.append(buffer, n);
    const int rc = ::pclose(pipe);
    out.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

// curl's answer: the body, then the status code on the last line.
struct Answer {
    int code = 0;
    std::string body;
};

inline Answer Curl(const std::string& args) {
    const Output o = Run("curl -s -m 10 -w '\\n%{http_code}' " + args);
    Answer a;
    const std::size_t nl = o.text.rfind('\n');
    if (nl == std::string::npos) return a;
    a.body = o.text.substr(0, nl);
    a.code = std::atoi(o.text.c_str() + nl + 1);
    return a;
}

inline constexpr char kPython[] = "/usr/bin/python3";

// The fixture's PLC: a pymodbus script with `c` connected to the Modbus door
// on 127.0.0.1:port, bit(a) reading discrete input a and wait(a, v) waiting
// up to 10 s for it to read v; what the script prints.
inline std::string Plc(int port, const std::string& body) {
    const std::string script =
        "import sys, time\n"
        "from pymodbus.client import ModbusTcpClient\n"
        "c = ModbusTcpClient('127.0.0.1', port=" +
        std::to_string(port) +
        ", timeout=2)\n"
        "if not c.connect(): print('no connection'); sys.exit(1)\n"
        "def bit(a):\n"
        "    r = c.read_discrete_inputs(a, 1, slave=1)\n"
        "    return None if r.isError() else int(r.bits[0])\n"
        "def wait(a, v, s=10):\n"
        "    end = time.time() + s\n"
        "    while time.time() < end:\n"
        "        if bit(a) == v: return True\n"
        "        time.sleep(0.01)\n"
        "    return False\n" +
        body + "c.close()\n";
    return Run(std::string(kPython) + " -c \"$(cat <<'EOF'\n" + script + "\nEOF\n)\" 2>&1").text;
}

}  // namespace doorstest
