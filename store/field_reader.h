#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace store {

// Reads the comma-separated fields of the settings file and the frequency
// table file, wherever the line ends fall:
//  - a field ends at a comma or a line end (CR LF, lone CR or lone LF);
//  - leading blanks and tabs are skipped; at the start of a line (or of the
//    data) blank lines are skipped too, but right after a comma a line end
//    gives an empty field ("DEBUG,ON," yields "DEBUG", "ON", "");
//  - a field that begins with a double quote runs to the next double quote
//    (a doubled quote inside stands for one quote); the quotes are not part
//    of it and anything after the closing quote up to the next comma or line
//    end is dropped;
//  - any other field loses its trailing blanks and tabs.
class FieldReader {
  public:
    explicit FieldReader(std::string_view data);

    // True when nothing but blanks, tabs and line ends is left and no field
    // is pending after a comma.
    bool AtEnd() const;

    // Reads the next field. False when the data is at its end.
    bool Next(std::string& field);

  private:
    std::string_view data_;
    std::size_t pos_ = 0;
    bool afterComma_ = false;
};

struct Record {
    std::string key;
    std::string value;
    std::string comment;
};

struct RecordList {
    std::vector<Record> records;
    // The data ended inside a record (one or two fields left over).
    bool cutShort = false;
};

// Takes the fields three at a time as records until the data ends.
RecordList ReadRecords(std::string_view data);

// A value as it must be written so that FieldReader gives it back unchanged:
// as it stands when that is safe, else in double quotes with inner quotes
// doubled (a comma, a line end, a leading quote, or leading or trailing
// blanks or tabs).
std::string QuoteIfNeeded(std::string_view value);

}  // namespace store
