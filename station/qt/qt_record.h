#pragma once

#include <QObject>
#include <atomic>
#include <memory>

#include "record_worker.h"
#include "station_assembly.h"

namespace station {

// The record worker of a station on Qt's event loop: its answers are run on
// the thread that made this object (the wire's thread), one queued call at a
// time, so a socket hears its record between two ticks, never inside one.
class QtRecord : public QObject, public RecordHost {
  public:
    explicit QtRecord(record::RecordWorker::SinkFactory factory, QObject* parent = nullptr);
    ~QtRecord() override;

    record::RecordWorker& Worker() override { return *worker_; }

  private:
    std::atomic<bool> posted_{false};
    std::unique_ptr<record::RecordWorker> worker_;
};

}  // namespace station
