#pragma once

#include <QPointF>
#include <QTimer>
#include <QWidget>
#include <span>
#include <vector>

#include "acquisition/frame_feed.h"
#include "calibration/calibrator.h"
#include "plot/plot_history.h"

namespace glove::plot {

// "Glove plot": values 2 to 10 over the last ten seconds, one labelled trace each with its
// current value, its calibrated range behind it, and the calibration state in words. It takes
// every frame, shown or not, so that it opens with the last seconds already drawn.
class PlotWindow final : public QWidget, public FrameFeed {
    Q_OBJECT

  public:
    static inline const QString kTitle = QStringLiteral("Glove plot");

    explicit PlotWindow(const calibration::Calibrator& calibrator, QWidget* parent = nullptr);

    void frameRead(std::span<const Frame> lines) noexcept override;
    [[nodiscard]] const PlotHistory& history() const { return history_; }
    // The state line's text.
    [[nodiscard]] QString stateText() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    const calibration::Calibrator& calibrator_;
    PlotHistory history_;
    QTimer repaint_;
    std::vector<QPointF> points_;  // one trace's, kept to spare an allocation a trace a frame
};

}  // namespace glove::plot
