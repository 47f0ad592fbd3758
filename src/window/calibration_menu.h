#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <functional>

#include "calibration/calibrator.h"

class QAction;
class QMessageBox;
class QProgressDialog;
class QWidget;

namespace glove {

namespace plot {
class PlotWindow;
}

// The window's context menu beyond its two buttons: "Calibrate…" takes a calibration live,
// with a countdown that can be cancelled, and "Plot" opens the plot. Both run beside the
// Connect loop, which keeps handling frames; the window itself stays as it is.
class CalibrationMenu final : public QObject {
    Q_OBJECT

  public:
    static inline const QString kCalibrateText = QStringLiteral("Calibrate\u2026");
    static inline const QString kPlotText = QStringLiteral("Plot");

    struct Options {
        calibration::Calibrator& calibrator;
        plot::PlotWindow& plot;
        std::chrono::seconds time = calibration::kDefaultTime;
        // Keeps a new calibration; what went wrong, empty when it is kept.
        std::function<QString(const calibration::Ranges&)> keep;
    };

    CalibrationMenu(Options options, QWidget& window);
    ~CalibrationMenu() override;

    // Ctrl+K and Ctrl+P, on the window and in its context menu.
    [[nodiscard]] QAction* calibrateAction() const { return calibrate_; }
    [[nodiscard]] QAction* plotAction() const { return plotAction_; }

    void calibrate();
    void showPlot();
    // The last calibration's outcome as told to the user.
    [[nodiscard]] QString outcome() const { return outcome_; }

  private:
    void tick();
    void tell(const QString& text);

    calibration::Calibrator& calibrator_;
    plot::PlotWindow& plot_;
    std::chrono::seconds time_;
    std::function<QString(const calibration::Ranges&)> keep_;
    QWidget& window_;
    QAction* calibrate_ = nullptr;
    QAction* plotAction_ = nullptr;
    QTimer ticker_;
    QPointer<QProgressDialog> progress_;
    QPointer<QMessageBox> message_;
    QString outcome_;
};

}  // namespace glove
