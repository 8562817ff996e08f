#include "qt_record.h"

#include <QMetaObject>

namespace station {

QtRecord::QtRecord(record::RecordWorker::SinkFactory factory, QObject* parent) : QObject(parent) {
    worker_ = std::make_unique<record::RecordWorker>(std::move(factory), [this] {
        // One queued call at a time is enough: it delivers every answer
        // that has arrived by then.
        if (posted_.exchange(true)) return;
        QMetaObject::invokeMethod(
            this,
            [this] {
                posted_ = false;
                worker_->Deliver();
            },
            Qt::QueuedConnection);
    });
}

QtRecord::~QtRecord() {
    worker_.reset();
}

}  // namespace station
