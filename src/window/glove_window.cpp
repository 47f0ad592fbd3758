#include "window/glove_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>
#include <cmath>

#include "acquisition/mscomm.h"
#include "monitor/status_text.h"
#include "window/hand_figure.h"
#include "window/twips.h"

namespace glove {

namespace {

// Client area and control places, in twips.
constexpr double kClientWidth = 6195;
constexpr double kClientHeight = 6765;
constexpr double kClientLeft = 4560;
constexpr double kClientTop = 2745;
constexpr twips::Rect kPicture2{1080, 4080, 3855, 2175};
constexpr twips::Rect kExit{3960, 2520, 975, 615};
constexpr twips::Rect kPicture1{1680, 360, 2655, 1815};
constexpr twips::Rect kCommand1{1080, 2520, 2535, 615};
constexpr twips::Rect kText1{1080, 3360, 3855, 375};
constexpr twips::Rect kLabel1{1800, 6480, 2415, 255};

constexpr auto kWebAddress = "example.org/glove";

// The texts the box must show whole: the status texts, and the widest values line, ten
// three-digit values of the font's widest digit.
QStringList widestTexts(const QFontMetricsF& metrics) {
    QChar widest = u'0';
    for (char16_t digit = u'1'; digit <= u'9'; ++digit) {
        if (metrics.horizontalAdvance(digit) > metrics.horizontalAdvance(widest)) widest = digit;
    }
    const QString value(3, widest);
    QStringList values;
    for (int i = 0; i < kFrameLength; ++i) values << value;
    return {values.join(QStringLiteral("  ")), status::kConnecting, status::kGesture,
            status::kBattery, status::kNoDevice};
}

bool fitsWidth(const QFont& font, const QStringList& texts, qreal width) {
    const QFontMetricsF metrics(font);
    // A line edit scrolls once the text and its one-pixel cursor are wider than its text area.
    constexpr qreal kCursorWidth = 1;
    return std::ranges::all_of(texts, [&](const QString& text) {
        return std::round(metrics.horizontalAdvance(text)) + kCursorWidth <= width;
    });
}

// The box's own font if every text fits its width, else that font reduced only as far as
// needed: the user reads the whole line, value 1 first, and never a larger font.
QFont fittingFont(const QLineEdit& box) {
    constexpr int kLineEditMargin = 2;  // what a line edit keeps free left and right of its text
    QStyleOptionFrame option;
    option.initFrom(&box);
    option.lineWidth = box.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &box);
    const QMargins margins = box.textMargins();
    const qreal width =
        box.style()->subElementRect(QStyle::SE_LineEditContents, &option, &box).width() -
        margins.left() - margins.right() - 2 * kLineEditMargin;

    QFont font = box.font();
    const QStringList texts = widestTexts(QFontMetricsF(font));
    // Down from the usual size in steps too small to skip a pixel size, as glyph widths
    // grow in whole pixels rather than with the size.
    constexpr qreal kStep = 0.1;  // points
    for (qreal size = QFontInfo(font).pointSizeF();
         !fitsWidth(font, texts, width) && size > kStep;) {
        size -= kStep;
        font.setPointSizeF(size);
    }
    return font;
}

}  // namespace

GloveWindow::GloveWindow(Options options, QWidget* parent)
    : QWidget(parent),
      endProgram_(options.endProgram ? std::move(options.endProgram)
                                     : [] { QCoreApplication::exit(0); }),
      textShown_(std::move(options.textShown)),
      text1_(new QLineEdit(this)),
      command1_(new QPushButton(QStringLiteral("Connect"), this)),
      exit_(new QPushButton(QStringLiteral("Exit"), this)),
      picture1_(new QLabel(this)),
      picture2_(new HandFigure(this)),
      label1_(new QLabel(QString::fromLatin1(kWebAddress), this)),
      pipeline_(
          *this,
          {.device = options.device, .exchangePath = options.exchangePath, .feed = options.feed}),
      exitCommand_(pipeline_.files(), pipeline_.exchangePath()) {
    setWindowTitle(
        kCaption + QStringLiteral(" \u2014 ") +
        (options.device.isEmpty() ? devicePathForPort(ConnectLoop::kCommPort) : options.device));
    setWindowIcon(QIcon(QStringLiteral(":/glove.ico")));
    setGeometry(twips::toPixels({kClientLeft, kClientTop, kClientWidth, kClientHeight}));
    setFixedSize(size());

    // Created in the window's control order; each keeps its place and size.
    picture2_->setGeometry(twips::toPixels(kPicture2));
    picture2_->setFocusPolicy(Qt::TabFocus);
    exit_->setGeometry(twips::toPixels(kExit));
    picture1_->setGeometry(twips::toPixels(kPicture1));
    picture1_->setPixmap(QPixmap(QStringLiteral(":/glove.gif")));
    picture1_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picture1_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    picture1_->setLineWidth(2);
    picture1_->setFocusPolicy(Qt::TabFocus);
    command1_->setGeometry(twips::toPixels(kCommand1));
    text1_->setGeometry(twips::toPixels(kText1));
    text1_->setReadOnly(true);  // a status line, not an input
    if (const QFont font = fittingFont(*text1_); font != text1_->font()) text1_->setFont(font);
    label1_->setGeometry(twips::toPixels(kLabel1));
    label1_->setAlignment(Qt::AlignCenter);
    label1_->setFocusPolicy(Qt::NoFocus);
    setTabOrder(text1_, command1_);
    setTabOrder(command1_, picture1_);
    setTabOrder(picture1_, exit_);
    setTabOrder(exit_, picture2_);
    text1_->setFocus();

    connect(command1_, &QPushButton::clicked, this, &GloveWindow::Command1_Click);
    connect(exit_, &QPushButton::clicked, this, &GloveWindow::Exit_Click);
    connect(&pipeline_.comm(), &MSComm::OnComm, this, &GloveWindow::MSComm1_OnComm);
    // Why the text box says " No Device Found": the status texts stay as they are, so the
    // reason is told where a pointer or a screen reader finds it.
    connect(&pipeline_.comm(), &MSComm::problemChanged, this, &GloveWindow::showProblem);
}

GloveWindow::~GloveWindow() = default;

void GloveWindow::Command1_Click() {
    pipeline_.connect();
}

void GloveWindow::Exit_Click() {
    if (exitCommand_.run()) endProgram();
}

void GloveWindow::MSComm1_OnComm() {
    pipeline_.pollNow();
}

void GloveWindow::closeEvent(QCloseEvent* event) {
    if (!ending_) {
        // The user asked the window to go: it goes even if the file cannot be deleted.
        (void)exitCommand_.run();
        endProgram();
    }
    event->accept();
}

void GloveWindow::endProgram() {
    ending_ = true;
    pipeline_.stop();
    endProgram_();
}

void GloveWindow::showProblem(const QString& problem) {
    // As rich text, a tooltip wraps to a readable width instead of running off the screen.
    text1_->setToolTip(
        problem.isEmpty() ? problem : QStringLiteral("<p>%1</p>").arg(problem.toHtmlEscaped()));
    setAccessibleDescription(problem);
}

void GloveWindow::setText(const QString& text) {
    // A pass may set the text twice, and the window shows only the last before it next
    // handles its events: only that one goes into the text box, and only if it differs,
    // which spares a silent line two layouts a pass and keeps the user's selection.
    text_ = text;
    if (textQueued_) return;
    textQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            textQueued_ = false;
            if (text1_->text() == text_) return;
            text1_->setText(text_);
            text1_->setCursorPosition(0);  // shown from value 1, whatever the width
            if (textShown_) textShown_(text1_->text());
        },
        Qt::QueuedConnection);
}

void GloveWindow::setThumbLeft(float left) {
    picture2_->setThumbLeft(left);
}

void GloveWindow::setThumbWidth(float width) {
    picture2_->setThumbWidth(width);
}

void GloveWindow::setFingerTop(int finger, float top) {
    picture2_->setFingerTop(finger, top);
}

}  // namespace glove
