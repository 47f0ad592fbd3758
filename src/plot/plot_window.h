#pragma once

#include <QPointF>
#include <QTimer>
#include <QWidget>
#include <span>
#include <vector>

#include "acquisition/frame_feed.h"
#include "calibration/calibrator.h"
#include "plot/plot_history.h"
#include "posture/posture_watch.h"

namespace glove::plot {

// "Glove plot": values 2 to 10 over the last ten seconds, one labelled trace each with its
// current value, its calibrated range behind it, the calibration state in words and, once
// given the watch, the posture the hand holds. It takes every frame, shown or not, so that it
// opens with the last seconds already drawn.
class PlotWindow final : public QWidget, public FrameFeed {
    Q_OBJECT

  public:
    static inline const QString kTitle = QStringLiteral("Glove plot");

    explicit PlotWindow(const calibration::Calibrator& calibrator, QWidget* parent = nullptr);

    void frameRead(std::span<const Frame> lines) noexcept override;
    [[nodiscard]] const PlotHistory& history() const { return history_; }
    // The state line's text.
    [[nodiscard]] QString stateText() const;
    // From now on the plot also tells the posture `watch` sees the hand hold.
    void showPostures(const posture::PostureWatch& watch);
    // The posture line's text: empty until a watch is given.
    [[nodiscard]] QString postureText() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    const calibration::Calibrator& calibrator_;
    const posture::PostureWatch* postures_ = nullptr;
    PlotHistory history_;
    QTimer repaint_;
    std::vector<QPointF> points_;  // one trace's, kept to spare an allocation a trace a frame
};

}  // namespace glove::plot
