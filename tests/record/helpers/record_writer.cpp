// Test helper: begins one attempt through the database sink the way a
// station does, says so on standard output, then waits to be killed in the
// middle of its write.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "attempt_id.h"
#include "csv_log.h"
#include "sql_record.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: record_writer URI SPOOL SERIAL\n");
        return 2;
    }
    std::string error;
    auto sink = record::OpenDatabaseSink(argv[1], argv[2], &error);
    if (!sink) {
        std::fprintf(stderr, "record_writer: %s\n", error.c_str());
        return 2;
    }
    record::Attempt a;
    a.attemptId = record::NewAttemptId();
    a.startedAt = record::IsoTimeNow();
    a.station = "killed";
    a.socket = 3;
    a.kind = "rx";
    a.serial = argv[3];
    a.operation = record::Operation::Write;
    a.result = record::Result::Running;
    const record::BeginResult b = sink->Begin(a);
    std::printf("%s\n", b.ok ? "begun" : b.error.c_str());
    std::fflush(stdout);
    for (;;) ::pause();
}
