#pragma once

#include <QFrame>
#include <string>

#include "station_model.h"

class QLabel;
class QProgressBar;

namespace station {

// One socket of the station. PASS and FAIL are large, in fixed colours that
// stay readable whatever the theme, and differ in more than colour: a mark
// before the word and a solid or dashed frame.
class SocketTile : public QFrame {
  public:
    SocketTile(int number, QWidget* parent = nullptr);
    void SetPort(const std::string& com, const std::string& device);
    // Smaller words and margins, the device in the tooltip only: for a grid
    // of many sockets.
    void SetCompact(bool compact);
    // Writes only what changed; a new result is announced to screen readers.
    void Show(const TileWords& words);
    const TileWords& Shown() const { return words_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    void SetStateFont();

    int number_;
    TileWords words_;
    bool shownOnce_ = false;
    bool compact_ = false;
    TileLook look_ = TileLook::Plain;
    QLabel* title_;
    QLabel* device_;
    QLabel* state_;
    QLabel* reason_;
    QProgressBar* progress_;
    QLabel* serial_;
};

}  // namespace station
