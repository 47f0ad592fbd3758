#include "window/calibration_menu.h"

#include <QAction>
#include <QMessageBox>
#include <QProgressDialog>
#include <QWidget>

#include "plot/plot_window.h"
#include "window/menu_dialogs.h"

namespace glove {

namespace {

QString countdown(std::chrono::steady_clock::duration left) {
    return QStringLiteral("Open and close the hand, all fingers, until the time is up: %1 s left")
        .arg(std::chrono::ceil<std::chrono::seconds>(left).count());
}

}  // namespace

CalibrationMenu::CalibrationMenu(Options options, QWidget& window)
    : calibrator_(options.calibrator),
      plot_(options.plot),
      time_(options.time),
      keep_(std::move(options.keep)),
      window_(window),
      calibrate_(new QAction(kCalibrateText, &window)),
      plotAction_(new QAction(kPlotText, &window)) {
    calibrate_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    plotAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    menu::addToWindow(window, {calibrate_, plotAction_});
    connect(calibrate_, &QAction::triggered, this, &CalibrationMenu::calibrate);
    connect(plotAction_, &QAction::triggered, this, &CalibrationMenu::showPlot);
    ticker_.setInterval(menu::kCountdownTick);
    connect(&ticker_, &QTimer::timeout, this, &CalibrationMenu::tick);
}

CalibrationMenu::~CalibrationMenu() {
    delete progress_;
    delete message_;
}

void CalibrationMenu::calibrate() {
    const auto now = calibration::Calibrator::Clock::now();
    calibrator_.start(now, time_);
    if (!progress_) {
        progress_ = menu::newCountdown(window_, kCalibrateText.chopped(1));
        connect(progress_, &QProgressDialog::canceled, this, [this] {
            if (!calibrator_.running()) return;
            calibrator_.cancel();
            ticker_.stop();
            tell(QStringLiteral("Calibration cancelled; ") +
                 QString::fromStdString(calibration::describe(calibrator_.inForce())) + '.');
        });
    }
    progress_->setLabelText(countdown(calibrator_.left(now)));
    progress_->setValue(0);
    progress_->show();
    ticker_.start();
    plot_.update();
}

void CalibrationMenu::tick() {
    const auto now = calibration::Calibrator::Clock::now();
    plot_.update();
    if (const auto ranges = calibrator_.finishIfDue(now)) {
        ticker_.stop();
        progress_->hide();
        QString text = QString::fromStdString(calibration::describe(ranges)) + '.';
        if (keep_) {
            if (const QString problem = keep_(*ranges); !problem.isEmpty()) {
                text += QStringLiteral(" It is in force until the program ends, but not kept: ") +
                        problem;
            }
        }
        tell(text);
        return;
    }
    if (!calibrator_.running()) {
        ticker_.stop();
        progress_->hide();
        const QString why =
            calibrator_.framesSeen() == 0
                ? QStringLiteral("No frame came from the glove (is it connected?)")
                : QStringLiteral("No value moved %1 or more").arg(calibration::kLeastSpan);
        tell(why + QStringLiteral("; the calibration before stays: ") +
             QString::fromStdString(calibration::describe(calibrator_.inForce())) + '.');
        return;
    }
    progress_->setLabelText(countdown(calibrator_.left(now)));
    progress_->setValue(static_cast<int>(calibrator_.progress(now) * menu::kCountdownSteps));
}

void CalibrationMenu::tell(const QString& text) {
    outcome_ = text;
    if (progress_) progress_->hide();
    menu::tell(message_, window_, kCalibrateText.chopped(1), text);
}

void CalibrationMenu::showPlot() {
    plot_.show();
    plot_.raise();
    plot_.activateWindow();
}

}  // namespace glove
