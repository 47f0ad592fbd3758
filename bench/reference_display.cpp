// The display's floor: a window laid out as the monitor's that does only the monitor's
// per-frame display work, 48 times a second (a glove's frame rate at 4800 baud): sets the
// read-only text box's values line and moves the thumb and the four finger bars, with the
// glove picture shown. Written with plain toolkit calls and none of the program's code, so
// that bench/display_bench.sh can measure what the display itself costs beside the program.
//     reference_display [--timer-only]   runs until killed
// --timer-only keeps the window shown and the 48 Hz timer running, and changes nothing.
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>

namespace {

constexpr int kFramesPerSecond = 48;
constexpr qreal kTwipsPerPixel = 15;

QRect pixels(qreal left, qreal top, qreal width, qreal height) {
    return QRectF(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                  height / kTwipsPerPixel)
        .toRect();
}

// Six rectangles in twips within the frame's inner area, each repainted as the monitor's
// hand figure paints them: thumb over palm over the four fingers.
class Hand final : public QFrame {
  public:
    explicit Hand(QWidget* parent) : QFrame(parent) {
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        setLineWidth(2);
        setAutoFillBackground(true);
        QPalette p = palette();
        p.setColor(QPalette::Window, palette().color(QPalette::HighlightedText));
        setPalette(p);
    }

    // The monitor's bar formulas for values 3 to 6.
    void move(const std::array<int, 10>& values) {
        const QRectF thumb{1520.0 - 3 * values[2], 1440, 3.0 * values[2] - 305, 375};
        const std::array<qreal, 4> tops{1400.0 - 4 * values[3], 1410 - 4.5 * values[4],
                                        1350.0 - 4 * values[5], 1400.0 - 4 * values[5]};
        bool moved = thumb != shapes_[5];
        shapes_[5] = thumb;
        for (int finger = 0; finger < 4; ++finger) {
            moved = moved || shapes_[finger].top() != tops[finger];
            shapes_[finger].moveTop(tops[finger]);
        }
        if (moved) update();
    }

  protected:
    void paintEvent(QPaintEvent* event) override {
        QFrame::paintEvent(event);
        QPainter painter(this);
        painter.translate(contentsRect().topLeft());
        painter.setClipRect(QRect(QPoint(0, 0), contentsRect().size()));
        painter.setPen(QPen(palette().color(QPalette::WindowText), 0));
        painter.setBrush(QColor(255, 224, 192));
        for (const QRectF& s : shapes_) {
            if (s.width() <= 0 || s.height() <= 0) continue;
            const QRectF r(s.left() / kTwipsPerPixel, s.top() / kTwipsPerPixel,
                           s.width() / kTwipsPerPixel, s.height() / kTwipsPerPixel);
            painter.drawRect(r.adjusted(0.5, 0.5, -0.5, -0.5));
        }
    }

  private:
    // Fingers 0 to 3, the palm, the thumb: back to front.
    std::array<QRectF, 6> shapes_{{{1200, 360, 255, 735},
                                   {1560, 360, 255, 735},
                                   {1920, 360, 255, 735},
                                   {2280, 360, 255, 735},
                                   {1200, 1080, 1335, 855},
                                   {720, 1440, 495, 375}}};
};

// A hand opening and closing every 160 frames with a little sensor jitter, as a waving glove.
class Wave {
  public:
    std::array<int, 10> values(long frame) {
        std::array<int, 10> v{};
        v[0] = 128;
        v[1] = battery_(rng_);
        v[2] = sweep(frame, 0.0, 110, 250);
        for (int i = 3; i < 6; ++i) v[i] = sweep(frame, 0.4 * (i - 2), 90, 190);
        for (int i = 6; i < 10; ++i) v[i] = sweep(frame, 1.1 * (i + 1), 60, 200);
        return v;
    }

  private:
    int sweep(long frame, double shift, int lo, int hi) {
        const double phase = 2 * std::numbers::pi * static_cast<double>(frame % 160) / 160 + shift;
        const double level = (1 - std::cos(phase)) / 2;
        return std::clamp(lo + static_cast<int>(std::lround(level * (hi - lo))) + jitter_(rng_), lo,
                          hi);
    }

    std::mt19937 rng_{1};
    std::uniform_int_distribution<int> jitter_{-2, 2};
    std::uniform_int_distribution<int> battery_{0, 2};
};

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("The monitor's display work, 48 times a second.");
    parser.addHelpOption();
    const QCommandLineOption timerOnly("timer-only", "Only the 48 Hz timer: change nothing.");
    parser.addOption(timerOnly);
    parser.process(app);

    // The monitor's window, control by control, in twips.
    QWidget window;
    window.setWindowTitle("Reference display");
    window.setGeometry(pixels(4560, 2745, 6195, 6765));
    window.setFixedSize(window.size());
    auto* hand = new Hand(&window);
    hand->setGeometry(pixels(1080, 4080, 3855, 2175));
    (new QPushButton("Exit", &window))->setGeometry(pixels(3960, 2520, 975, 615));
    auto* picture = new QLabel(&window);
    picture->setGeometry(pixels(1680, 360, 2655, 1815));
    picture->setPixmap(QPixmap(":/glove.gif"));
    picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picture->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    picture->setLineWidth(2);
    (new QPushButton("Connect", &window))->setGeometry(pixels(1080, 2520, 2535, 615));
    auto* text = new QLineEdit(&window);
    text->setGeometry(pixels(1080, 3360, 3855, 375));
    text->setReadOnly(true);
    // As the monitor does, a font small enough for ten three-digit values.
    QFont font = text->font();
    const QString widest = QStringList(10, "000").join("  ");
    while (QFontMetricsF(font).horizontalAdvance(widest) + 1 > text->width() - 8)
        font.setPointSizeF(font.pointSizeF() - 0.1);
    text->setFont(font);
    auto* label = new QLabel("example.org/glove", &window);
    label->setGeometry(pixels(1800, 6480, 2415, 255));
    label->setAlignment(Qt::AlignCenter);
    text->setFocus();
    window.show();

    // Each frame due at its own time from the start, so the rate is 48 a second on average
    // although the timer counts whole milliseconds.
    Wave wave;
    long frame = 0;
    QElapsedTimer clock;
    clock.start();
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    const bool display = !parser.isSet(timerOnly);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (display) {
            const std::array<int, 10> values = wave.values(frame);
            QStringList texts;
            for (int v : values) texts << QString::number(v);
            text->setText(texts.join("  "));
            text->setCursorPosition(0);
            hand->move(values);
        }
        ++frame;
        const qint64 due = frame * 1000 / kFramesPerSecond;
        timer.start(static_cast<int>(std::max<qint64>(0, due - clock.elapsed())));
    });
    timer.start(0);
    return app.exec();
}
