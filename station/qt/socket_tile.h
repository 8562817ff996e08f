#pragma once

#include <QFrame>
#include <string>

#include "socket.h"

class QLabel;
class QProgressBar;

namespace station {

// What one tile shows, taken from its socket.
struct TileView {
    Phase phase = Phase::Empty;
    std::string state;  // the socket's phase text
    std::string serial;
    long long durationMs = -1;  // of the last attempt; -1 while none ended
    int progress = 0;           // channels written, 0..4
    bool operator==(const TileView& o) const {
        return phase == o.phase && state == o.state && serial == o.serial &&
               durationMs == o.durationMs && progress == o.progress;
    }
};

TileView ViewOf(const Socket& socket);

// One socket of the station. PASS and FAIL are large, in fixed colours that
// stay readable whatever the theme, and differ in more than colour: a mark
// before the word and a solid or dashed frame.
class SocketTile : public QFrame {
  public:
    SocketTile(int number, QWidget* parent = nullptr);
    void SetPort(const std::string& com, const std::string& device);
    // Writes only what changed; a new result is announced to screen readers.
    void Show(const TileView& view);
    const TileView& Shown() const { return view_; }

  private:
    int number_;
    TileView view_;
    bool shownOnce_ = false;
    const char* style_ = nullptr;
    QLabel* title_;
    QLabel* device_;
    QLabel* state_;
    QLabel* reason_;
    QProgressBar* progress_;
    QLabel* serial_;
};

}  // namespace station
