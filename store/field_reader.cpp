#include "field_reader.h"

namespace store {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

}  // namespace

FieldReader::FieldReader(std::string_view data) : data_(data) {}

bool FieldReader::AtEnd() const {
    if (afterComma_) return false;
    for (std::size_t i = pos_; i < data_.size(); ++i) {
        if (!isBlank(data_[i]) && !isLineEnd(data_[i])) return false;
    }
    return true;
}

bool FieldReader::Next(std::string& field) {
    field.clear();
    const std::size_t size = data_.size();

    if (afterComma_) {
        // A comma promises a field even when the line (or the data) ends
        // right after it: "DEBUG,ON," has an empty comment.
        while (pos_ < size && isBlank(data_[pos_])) ++pos_;
        if (pos_ >= size || isLineEnd(data_[pos_])) {
            afterComma_ = false;
            return true;
        }
    } else {
        // Between records line ends are only separators; blank lines vanish.
        while (pos_ < size && (isBlank(data_[pos_]) || isLineEnd(data_[pos_]))) ++pos_;
        if (pos_ >= size) return false;
    }

    if (data_[pos_] == '"') {
        ++pos_;
        for (;;) {
            const std::size_t quote = data_.find('"', pos_);
            if (quote == std::string_view::npos) {
                // No closing quote: the rest of the data is the field.
                field.append(data_.substr(pos_));
                pos_ = size;
                break;
            }
            field.append(data_.substr(pos_, quote - pos_));
            pos_ = quote + 1;
            if (pos_ < size && data_[pos_] == '"') {
                field += '"';
                ++pos_;
                continue;
            }
            break;
        }
        // Whatever stands between the closing quote and the field's end is
        // not part of the value.
        while (pos_ < size && data_[pos_] != ',' && !isLineEnd(data_[pos_])) ++pos_;
    } else {
        const std::size_t start = pos_;
        while (pos_ < size && data_[pos_] != ',' && !isLineEnd(data_[pos_])) ++pos_;
        std::size_t end = pos_;
        while (end > start && isBlank(data_[end - 1])) --end;
        field.assign(data_.substr(start, end - start));
    }

    afterComma_ = pos_ < size && data_[pos_] == ',';
    if (afterComma_) ++pos_;
    return true;
}

RecordList ReadRecords(std::string_view data) {
    RecordList list;
    FieldReader reader(data);
    Record record;
    while (reader.Next(record.key)) {
        if (!reader.Next(record.value) || !reader.Next(record.comment)) {
            list.cutShort = true;
            break;
        }
        list.records.push_back(std::move(record));
        record = Record();
    }
    return list;
}

std::string QuoteIfNeeded(std::string_view value) {
    bool needsQuotes = false;
    if (!value.empty()) {
        needsQuotes = value.front() == '"' || isBlank(value.front()) || isBlank(value.back()) ||
                      value.find_first_of(",\r\n") != std::string_view::npos;
    }
    if (!needsQuotes) return std::string(value);

    std::string quoted;
    quoted.reserve(value.size() + 2);
    quoted += '"';
    for (const char c : value) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

}  // namespace store
