#include "window/glove_window.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <random>

#include "acquisition/mscomm.h"
#include "monitor/status_text.h"
#include "support/pty.h"
#include "support/temp_files.h"
#include "window/hand_figure.h"

namespace glove {
namespace {

using test::bytes;

// The real window, off screen, on a pseudo-terminal glove and a temporary exchange file.
class Window : public ::testing::Test {
  protected:
    Window() {
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    bool exchangeFileExists() const {
        return QFileInfo::exists(QString::fromStdString(dir.path()));
    }

    test::Pty glove;
    test::TempDir dir;
    int ended = 0;
    GloveWindow window{
        {.device = glove.path(), .exchangePath = dir.path(), .endProgram = [this] { ++ended; }}};
};

TEST_F(Window, OpensWithItsCaptionSizeAndControlsInPlace) {
    EXPECT_EQ(window.windowTitle(), "Zarquin's Wireless VR Glove \u2014 " + glove.path());
    EXPECT_EQ(window.size(), QSize(413, 451));
    EXPECT_EQ(window.Picture2()->geometry(), QRect(72, 272, 257, 145));
    EXPECT_EQ(window.Exit()->geometry(), QRect(264, 168, 65, 41));
    EXPECT_EQ(window.Picture1()->geometry(), QRect(112, 24, 177, 121));
    EXPECT_EQ(window.Command1()->geometry(), QRect(72, 168, 169, 41));
    EXPECT_EQ(window.Text1()->geometry(), QRect(72, 224, 257, 25));
    EXPECT_EQ(window.Label1()->geometry(), QRect(120, 432, 161, 17));
    EXPECT_EQ(window.Command1()->text(), "Connect");
    EXPECT_EQ(window.Exit()->text(), "Exit");
    EXPECT_TRUE(window.Text1()->text().isEmpty());
    EXPECT_FALSE(window.Label1()->text().isEmpty());
    EXPECT_FALSE(window.MSComm1().portOpen());
    EXPECT_FALSE(window.Command1()->isDefault() || window.Exit()->isDefault());
    EXPECT_FALSE(window.Command1()->autoDefault() || window.Exit()->autoDefault());
}

TEST_F(Window, TextBoxHasTheFocusAndTabFollowsTheWindowsOrder) {
    EXPECT_EQ(QApplication::focusWidget(), window.Text1());
    const std::vector<QWidget*> order{window.Command1(), window.Picture1(), window.Exit(),
                                      window.Picture2(), window.Text1()};
    for (QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->metaObject()->className();
    }
}

// Whether the box, scrolled as far as its cursor at the end of the text needs, still
// shows the text's first character: then the whole text fits.
bool showsWhole(QLineEdit& box, const QString& text) {
    box.setText(text);
    box.setCursorPosition(static_cast<int>(text.size()));
    box.grab();  // the box scrolls as it paints
    const QPoint firstCharacter(box.contentsRect().left() + box.textMargins().left() + 3,
                                box.height() / 2);
    return box.cursorPositionAt(firstCharacter) == 0;
}

TEST_F(Window, TextBoxShowsTheWidestValuesLineAndEveryStatusWholeInAFontNoLarger) {
    QLineEdit& box = *window.Text1();
    const QString widest = QStringLiteral("255  255  255  255  255  255  255  255  255  255");
    for (const QString& text :
         {widest, QStringLiteral("188  188  188  188  188  188  188  188  188  188"),
          status::kGesture, status::kBattery, status::kNoDevice, status::kConnecting}) {
        window.setText(text);
        QCoreApplication::processEvents();
        EXPECT_EQ(box.text(), text);
        EXPECT_EQ(box.cursorPosition(), 0) << "shown from its start";
        EXPECT_TRUE(showsWhole(box, text)) << text.toStdString();
    }
    const QFont font = box.font();
    const qreal usual = QFontInfo(QApplication::font(&box)).pointSizeF();
    EXPECT_LE(QFontInfo(font).pointSizeF(), usual) << "never enlarged";
    if (QFontInfo(font).pointSizeF() < usual) {  // reduced only as far as needed
        QFont larger = font;
        larger.setPointSizeF(font.pointSizeF() + 0.2);
        box.setFont(larger);
        EXPECT_FALSE(showsWhole(box, widest)) << "reduced more than needed";
        box.setFont(font);
    }
}

TEST_F(Window, ShowsTheGlovePictureWithTransparentPixels) {
    const QImage picture = window.Picture1()->pixmap().toImage();
    ASSERT_EQ(picture.size(), QSize(144, 107));
    ASSERT_TRUE(picture.hasAlphaChannel());
    int transparent = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) transparent += qAlpha(picture.pixel(x, y)) == 0;
    }
    EXPECT_GT(transparent, picture.width() * picture.height() / 2);
    EXPECT_FALSE(window.windowIcon().isNull());
    EXPECT_EQ(window.windowIcon().availableSizes().size(), 2) << "32 x 32 and 16 x 16";
}

TEST_F(Window, HandFigureStartsAtItsPlacesAndPaintsFrontToBack) {
    const HandFigure& hand = *window.Picture2();
    EXPECT_EQ(hand.thumb().left, 720);
    EXPECT_EQ(hand.thumb().width, 495);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(hand.finger(i).left, 1200 + 360 * i);
        EXPECT_EQ(hand.finger(i).top, 360);
    }

    window.setFingerTop(1, 1400);  // slides down into the palm
    const QImage image = window.Picture2()->grab().toImage();
    const QPoint origin = hand.contentsRect().topLeft();
    const QColor skin = HandFigure::kSkin;
    // Inside the palm the palm lies over the finger: no outline of the finger there.
    EXPECT_EQ(image.pixelColor(origin + QPoint(1560 / 15, 1500 / 15)), skin);
    // Below the palm the finger shows, with its outline.
    EXPECT_EQ(image.pixelColor(origin + QPoint(1600 / 15, 2000 / 15)), skin);
    EXPECT_NE(image.pixelColor(origin + QPoint(1560 / 15, 2000 / 15)), skin);
    // The thumb lies over the palm's left edge: its inside covers the palm's outline.
    window.setThumbLeft(600);
    window.setThumbWidth(800);  // now reaching well into the palm
    const QImage moved = window.Picture2()->grab().toImage();
    EXPECT_EQ(moved.pixelColor(origin + QPoint(1200 / 15, 1600 / 15)), skin);
}

TEST_F(Window, TheScreenShowsTheHandAsAWholeRepaintWouldAfterManyMoves) {
    // Only what moved is painted again; a place left out would keep a stale bar on screen.
    HandFigure& hand = *window.Picture2();
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> value(0, 255);
    for (int pass = 0; pass < 60; ++pass) {
        const int thumb = value(rng);
        window.setThumbLeft(static_cast<float>(1520 - 3 * thumb));
        window.setThumbWidth(static_cast<float>(3 * thumb - 305));  // may be 0 or less
        for (int finger = 0; finger < HandFigure::kFingerCount; ++finger) {
            window.setFingerTop(finger, static_cast<float>(1410 - 4.5 * value(rng)));
        }
        QCoreApplication::processEvents();
    }
    const QImage shown =
        window.screen()
            ->grabWindow(window.winId(), hand.x(), hand.y(), hand.width(), hand.height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    const QImage whole = hand.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), whole.size());
    EXPECT_TRUE(shown == whole);
}

TEST_F(Window, AShapeWithoutWidthDrawsNothing) {
    window.setThumbLeft(1217);
    window.setThumbWidth(-2);
    const QImage image = window.Picture2()->grab().toImage();
    const QPoint origin = window.Picture2()->contentsRect().topLeft();
    EXPECT_EQ(image.pixelColor(origin + QPoint(1000 / 15, 1600 / 15)),
              window.Picture2()->palette().color(QPalette::Window));
}

TEST_F(Window, OnlyTheButtonsStartAnything) {
    for (QWidget* w : std::vector<QWidget*>{window.Text1(), window.Picture1(), window.Picture2(),
                                            window.Label1()}) {
        QTest::mouseClick(w, Qt::LeftButton);
    }
    EXPECT_FALSE(window.connectLoop().running());
    EXPECT_EQ(ended, 0);
    EXPECT_TRUE(window.Text1()->text().isEmpty());
}

TEST_F(Window, ExitDeletesTheExchangeFileAndEnds) {
    test::writeAll(dir.path(), "128,1,1,1,1,1,1,1,1,1\r\n");
    QTest::mouseClick(window.Exit(), Qt::LeftButton);
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(exchangeFileExists());
}

TEST_F(Window, ConnectShowsTheGlovesFramesUntilExit) {
    QStringList seen;
    QObject::connect(window.Text1(), &QLineEdit::textChanged, [&](const QString& t) { seen << t; });
    QTimer glovePace;  // a frame every 15 ms keeps the line busy, as a streaming glove does
    QObject::connect(&glovePace, &QTimer::timeout, [&] {
        glove.send(bytes({128, 1, 100, 50, 60, 70, 80, 90, 100, 110}));
    });
    glovePace.start(15);
    QTimer::singleShot(300, [&] { QTest::mouseClick(window.Exit(), Qt::LeftButton); });
    QTest::mouseClick(window.Command1(), Qt::LeftButton);  // returns once Exit stops the loop

    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(window.connectLoop().running());
    EXPECT_FALSE(exchangeFileExists());
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_EQ(seen.first(), status::kConnecting);
    EXPECT_TRUE(seen.contains("128  1  100  50  60  70  80  90  100  110"))
        << seen.join(" / ").toStdString();
    EXPECT_EQ(window.Picture2()->thumb().left, 1220);
    EXPECT_EQ(window.Picture2()->finger(1).top, 1140);
    const qsizetype shown = seen.size();
    QTest::qWait(50);
    EXPECT_EQ(seen.size(), shown) << "no further pass after Exit";
}

TEST(WindowProblem, TheTextBoxTellsWhyTheDeviceDoesNotOpenUntilItDoes) {
    test::TempDir dir;
    const QString link = dir.dir() + "/glove";
    GloveWindow window({.device = link, .exchangePath = dir.path(), .endProgram = [] {}});
    EXPECT_EQ(window.windowTitle(), "Zarquin's Wireless VR Glove \u2014 " + link);
    EXPECT_FALSE(window.MSComm1().receive());
    const QString problem = window.accessibleDescription();
    EXPECT_TRUE(problem.startsWith(link + ": cannot open the serial device"))
        << problem.toStdString();
    EXPECT_TRUE(problem.contains("glove-monitor --list-ports"));
    // The tooltip is rich text, which wraps, and says the same.
    const QString tip = window.Text1()->toolTip();
    EXPECT_TRUE(Qt::mightBeRichText(tip)) << tip.toStdString();
    QTextDocument shown;
    shown.setHtml(tip);
    EXPECT_EQ(shown.toPlainText(), problem);
    const test::Pty glove;
    ASSERT_TRUE(QFile::link(glove.path(), link));  // plugged in
    EXPECT_TRUE(window.MSComm1().receive());
    EXPECT_TRUE(window.Text1()->toolTip().isEmpty());
    EXPECT_TRUE(window.accessibleDescription().isEmpty());
}

TEST(WindowStatus, TellsEachNewTextOfTheBoxOnceAsTheBoxShowsIt) {
    test::Pty glove;
    test::TempDir dir;
    QStringList told;
    GloveWindow window({.device = glove.path(),
                        .exchangePath = dir.path(),
                        .endProgram = [] {},
                        .textShown = [&](const QString& text) { told << text; }});
    window.setText("passing");
    window.setText(status::kNoDevice);  // a pass may set it twice: only the last is shown
    QTest::qWait(20);
    window.setText(status::kNoDevice);
    QTest::qWait(20);
    window.setText("128  1  2  3  4  5  6  7  8  9");
    QTest::qWait(20);
    EXPECT_EQ(told, (QStringList{status::kNoDevice, "128  1  2  3  4  5  6  7  8  9"}));
}

TEST_F(Window, ClosingTheWindowIsAnExit) {
    test::writeAll(dir.path(), "");
    window.close();
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(exchangeFileExists());
}

}  // namespace
}  // namespace glove
