#include "plot/plot_window.h"

#include <QPainter>
#include <QShortcut>
#include <array>
#include <cmath>

namespace glove::plot {

namespace {

constexpr int kLabelWidth = 110;
constexpr int kMargin = 6;
constexpr int kLanePadding = 3;  // pixels kept free above and below each trace
constexpr std::chrono::milliseconds kRepaintInterval{40};

// One colour for each value, told apart on a light background.
constexpr std::array<QRgb, calibration::kValueCount> kTraceColours{
    0x1f77b4, 0xd62728, 0x2ca02c, 0x9467bd, 0xff7f0e, 0x8c564b, 0xe377c2, 0x17becf, 0x7f7f7f};

}  // namespace

PlotWindow::PlotWindow(const calibration::Calibrator& calibrator, QWidget* parent)
    : QWidget(parent, Qt::Window), calibrator_(calibrator) {
    setWindowTitle(kTitle);
    resize(640, 480);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Closing hides it: it goes on taking frames, so that it opens again with them drawn.
    new QShortcut(QKeySequence::Close, this, this, &QWidget::close);
    repaint_.setSingleShot(true);
    repaint_.setInterval(kRepaintInterval);
    connect(&repaint_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

void PlotWindow::frameRead(std::span<const Frame> lines) noexcept {
    history_.add(PlotHistory::Clock::now(), lines.front());
    // Every frame is kept, but the window is drawn again at most every kRepaintInterval: a
    // whole repaint costs about the same however little changed, and half the glove's rate
    // scrolls as smoothly to the eye at the cost of half the drawing.
    if (isVisible() && !repaint_.isActive()) repaint_.start();
}

QString PlotWindow::stateText() const {
    const auto now = calibration::Calibrator::Clock::now();
    if (calibrator_.running()) {
        const auto left = std::chrono::ceil<std::chrono::seconds>(calibrator_.left(now));
        return QStringLiteral("Calibrating: open and close the hand, %1 s left").arg(left.count());
    }
    return QString::fromStdString(calibration::describe(calibrator_.inForce()));
}

void PlotWindow::showPostures(const posture::PostureWatch& watch) {
    postures_ = &watch;
    update();
}

QString PlotWindow::postureText() const {
    if (postures_ == nullptr) return {};
    if (postures_->learning()) {
        const auto left = std::chrono::ceil<std::chrono::seconds>(
            postures_->left(posture::PostureWatch::Clock::now()));
        return QStringLiteral("Learning a posture: hold the hand still, %1 s left")
            .arg(left.count());
    }
    if (postures_->postures().postures().empty()) return QStringLiteral("No postures learnt");
    const std::string& held = postures_->held();
    return QStringLiteral("Posture: ") +
           (held.empty() ? QString::fromLatin1(posture::kNone) : QString::fromStdString(held));
}

void PlotWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    const QFontMetrics metrics = fontMetrics();
    QString state = stateText();
    if (const QString posture = postureText(); !posture.isEmpty()) state += '\n' + posture;
    const int stateHeight =
        static_cast<int>(state.count('\n') + 1) * metrics.height() + 2 * kMargin;
    const double plotHeight = height() - stateHeight - kMargin;
    const auto now = PlotHistory::Clock::now();
    const auto& samples = history_.samples();
    const auto& ranges = calibrator_.inForce();

    for (int value = calibration::kFirstValue; value <= kFrameLength; ++value) {
        const int index = value - calibration::kFirstValue;
        Lane lane = laneOf(value, width() - kMargin, kMargin, plotHeight, kLabelWidth);
        painter.setPen(QColor(0xdd, 0xdd, 0xdd));
        painter.drawLine(QPointF(0, lane.top + lane.height),
                         QPointF(width(), lane.top + lane.height));
        lane.top += kLanePadding;
        lane.height -= 2 * kLanePadding;
        const QColor colour(kTraceColours[index]);

        if (ranges && (*ranges)[index].calibrated()) {
            const calibration::Range r = (*ranges)[index];
            QColor band = colour;
            band.setAlpha(40);
            painter.fillRect(
                QRectF(lane.left, lane.y(r.high), lane.width, lane.y(r.low) - lane.y(r.high)),
                band);
        }

        QString label = QStringLiteral("Value %1").arg(value);
        if (!samples.empty()) label += QStringLiteral(": %1").arg(samples.back().frame[value - 1]);
        painter.setPen(colour);
        painter.drawText(QRectF(kMargin, lane.top, kLabelWidth - kMargin, lane.height),
                         Qt::AlignLeft | Qt::AlignVCenter, label);

        // A one-pixel pen takes the raster engine's fast line path: a wider one is stroked
        // as an outline, several times the cost at every frame.
        points_.clear();
        for (const auto& sample : samples) {
            points_.emplace_back(lane.x(sample.time, now), lane.y(sample.frame[value - 1]));
        }
        painter.setPen(QPen(colour, 1));
        painter.drawPolyline(points_.data(), static_cast<int>(points_.size()));
    }

    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRect(kMargin, height() - stateHeight, width() - 2 * kMargin, stateHeight),
                     Qt::AlignLeft | Qt::AlignVCenter, state);
}

}  // namespace glove::plot
