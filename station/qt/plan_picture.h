#pragma once

#include <QWidget>
#include <vector>

#include "plan.h"

namespace station {

// The plan's channels drawn against the kind's band and grid. A channel
// the synthesizer cannot make exactly is drawn hollow with a "!" beside its
// name, so the mark does not depend on colour alone.
class PlanPicture : public QWidget {
  public:
    explicit PlanPicture(QWidget* parent = nullptr);
    void SetPlan(const std::vector<ChannelPlan>& channels, const module::Kind& kind);
    QSize sizeHint() const override { return {520, 84}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::vector<ChannelPlan> channels_;
    double low_ = 433.075;
    double high_ = 434.700;
    int gridKHz_ = 25;
};

}  // namespace station
