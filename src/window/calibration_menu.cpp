#include "window/calibration_menu.h"

#include <QAction>
#include <QMessageBox>
#include <QProgressDialog>
#include <QWidget>

#include "plot/plot_window.h"

namespace glove {

namespace {

constexpr int kProgressSteps = 1000;
constexpr std::chrono::milliseconds kTick{100};

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
    for (QAction* action : {calibrate_, plotAction_}) {
        action->setShortcutContext(Qt::WindowShortcut);
        window.addAction(action);
    }
    window.setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(calibrate_, &QAction::triggered, this, &CalibrationMenu::calibrate);
    connect(plotAction_, &QAction::triggered, this, &CalibrationMenu::showPlot);
    ticker_.setInterval(kTick);
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
        progress_ = new QProgressDialog(&window_);
        progress_->setWindowTitle(kCalibrateText.chopped(1));
        progress_->setRange(0, kProgressSteps);
        progress_->setMinimumDuration(0);
        progress_->setAutoClose(false);
        progress_->setAutoReset(false);
        // The Connect loop runs on: the dialog must not hold the window's events.
        progress_->setWindowModality(Qt::NonModal);
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
    progress_->setValue(static_cast<int>(calibrator_.progress(now) * kProgressSteps));
}

void CalibrationMenu::tell(const QString& text) {
    outcome_ = text;
    if (progress_) progress_->hide();
    if (!message_) {
        message_ = new QMessageBox(QMessageBox::Information, kCalibrateText.chopped(1), {},
                                   QMessageBox::Ok, &window_);
        message_->setWindowModality(Qt::NonModal);
    }
    message_->setText(text);
    message_->show();
}

void CalibrationMenu::showPlot() {
    plot_.show();
    plot_.raise();
    plot_.activateWindow();
}

}  // namespace glove
