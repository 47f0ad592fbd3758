#include "window/posture_menu.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "plot/plot_window.h"
#include "support/pty.h"
#include "support/temp_files.h"
#include "window/calibration_menu.h"
#include "window/glove_window.h"

namespace glove {
namespace {

using namespace std::chrono_literals;

// The real window off screen, its context menu for calibration and postures, and the postures
// it keeps; the watch takes the frames of Connect, or those a test hands it.
class PostureMenuTest : public ::testing::Test {
  protected:
    PostureMenuTest() {
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    void feed(int raw, int frames) {
        Frame frame{};
        frame.fill(raw);
        frame[0] = kFrameMarker;
        for (int i = 0; i < frames; ++i) watch.frameRead(std::span(&frame, 1));
    }

    // Types `name` into the open name dialog and presses OK.
    void enterName(const QString& name) {
        QDialog* dialog = menu.nameDialog();
        ASSERT_TRUE(dialog != nullptr && dialog->isVisible());
        dialog->findChild<QLineEdit*>()->setText(name);
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    }
    QString nameFault() const {
        return menu.nameDialog()->findChild<QLabel*>(QStringLiteral("fault"))->text();
    }
    void answer(QMessageBox::StandardButton button) {
        ASSERT_TRUE(menu.question() != nullptr && menu.question()->isVisible());
        menu.question()->button(button)->click();
    }
    // Waits for the running countdown to end.
    void countdownEnds() {
        ASSERT_TRUE(menu.countdown() != nullptr && menu.countdown()->isVisible());
        EXPECT_TRUE(QTest::qWaitFor([this] { return !menu.countdown()->isVisible(); }, 3000));
    }
    void holdUntilLearnt(int raw) {
        feed(raw, 30);
        countdownEnds();
    }
    QPushButton* button(const QString& text) const {
        for (auto* b : menu.posturesDialog()->findChildren<QPushButton*>()) {
            if (b->text() == text) return b;
        }
        return nullptr;
    }
    QStringList listed() const {
        QStringList names;
        const auto* list = menu.posturesDialog()->findChild<QListWidget*>();
        for (int i = 0; i < list->count(); ++i) {
            names << list->item(i)->data(Qt::UserRole).toString();
        }
        return names;
    }
    // Chooses note `note` in the open name dialog, or the next free one for none.
    void chooseNote(std::optional<int> note) {
        auto* notes = menu.nameDialog()->findChild<QComboBox*>();
        ASSERT_TRUE(notes != nullptr && notes->isVisible());
        notes->setCurrentIndex(note ? notes->findData(*note) : 0);
    }
    void learnt(const std::string& name, float value) {
        posture::Values values{};
        values.fill(value);
        posture::PostureSet set = watch.postures();
        ASSERT_EQ(set.add({name, values}), "");
        watch.setPostures(set);
    }

    calibration::Calibrator calibrator;
    posture::PostureWatch watch{calibrator};
    test::Pty glove;
    test::TempDir dir;
    GloveWindow window{
        {.device = glove.path(), .exchangePath = dir.path(), .endProgram = [] {}, .feed = &watch}};
    plot::PlotWindow plot{calibrator};
    CalibrationMenu calibration{{.calibrator = calibrator, .plot = plot, .keep = {}}, window};
    QString keepProblem;  // what keeping the postures fails with, empty for none
    std::optional<posture::PostureSet> keptElsewhere;  // kept meanwhile by another start
    std::vector<posture::PostureSet> kept;
    PostureMenu menu{{.watch = watch,
                      .time = 200ms,
                      .keep =
                          [this](const posture::PostureSet& set) {
                              if (keepProblem.isEmpty()) kept.push_back(set);
                              return keepProblem;
                          },
                      .kept = [this] { return keptElsewhere.value_or(watch.postures()); }},
                     window};
};

TEST_F(PostureMenuTest, LearnsANamedPostureFromTheGlovesFramesWhileConnectRuns) {
    QTimer glovePace;  // a still hand: values 2 to 10 all 51, a fifth of their range
    QObject::connect(&glovePace, &QTimer::timeout, [&] {
        glove.send(test::bytes({128, 51, 51, 51, 51, 51, 51, 51, 51, 51}));
    });
    glovePace.start(15);
    QTimer::singleShot(60, [&] {
        QTest::keyClick(&window, Qt::Key_L, Qt::ControlModifier);
        EXPECT_FALSE(calibrator.running()) << "Ctrl+L is not the calibration's";
        enterName("open");
    });
    // Exit once the hand has held the posture learnt for a few frames, or after too long.
    QTimer untilTold;
    int ticks = 0;
    QObject::connect(&untilTold, &QTimer::timeout, [&] {
        if ((!watch.held().empty() && !menu.outcome().isEmpty()) || ++ticks > 150) {
            QTest::mouseClick(window.Exit(), Qt::LeftButton);
        }
    });
    untilTold.start(20);
    QTest::mouseClick(window.Command1(), Qt::LeftButton);  // returns once Exit stops the loop

    EXPECT_EQ(menu.outcome(), "Posture \"open\" learnt: it plays note 60.");
    ASSERT_EQ(kept.size(), 1U);
    ASSERT_EQ(kept[0].postures().size(), 1U);
    EXPECT_NEAR(kept[0].postures()[0].values[4], 0.2F, 0.001F);
    EXPECT_EQ(watch.postures().postures(), kept[0].postures());
    EXPECT_EQ(watch.held(), "open");
}

struct RefusedName {
    const char* name;
    QString typed;
    QString told;
};

TEST_F(PostureMenuTest, ARefusedNameIsToldInTheDialogWhichAsksAgain) {
    learnt("fist", 0.9F);
    menu.learn();
    for (const RefusedName& refused : std::initializer_list<RefusedName>{
             {"empty", "", "A posture needs a name."},
             {"control character", "a\tb", "A posture's name cannot hold a control character."},
             {"none", "none", "\"none\" means no posture and cannot name one."}}) {
        enterName(refused.typed);
        EXPECT_TRUE(menu.nameDialog()->isVisible()) << refused.name;
        EXPECT_EQ(nameFault(), refused.told) << refused.name;
    }
    EXPECT_FALSE(watch.learning());
    // A name kept already is asked about: no asks for a name again, yes relearns it.
    enterName("fist");
    ASSERT_TRUE(menu.question() != nullptr);
    EXPECT_EQ(menu.question()->text(),
              "A posture named \"fist\" is kept already. Relearn it? It keeps its note, 60.");
    answer(QMessageBox::No);
    EXPECT_TRUE(menu.nameDialog()->isVisible());
    EXPECT_EQ(menu.nameDialog()->findChild<QLineEdit*>()->text(), "fist");
    EXPECT_FALSE(watch.learning());
    enterName("fist");
    answer(QMessageBox::Yes);
    holdUntilLearnt(51);
    EXPECT_EQ(menu.outcome(), "Posture \"fist\" relearnt.");
    ASSERT_EQ(watch.postures().postures().size(), 1U);
    EXPECT_NEAR(watch.postures().postures()[0].values[0], 0.2F, 0.001F);
}

TEST_F(PostureMenuTest, ALearningThatFailsOrIsCancelledSaysWhyAndKeepsNothing) {
    menu.learn();
    enterName("fist");
    for (int raw = 0; raw < 240; raw += 6) feed(raw, 1);  // the hand moves all along
    countdownEnds();
    EXPECT_TRUE(
        menu.outcome().startsWith("Posture \"fist\" not learnt: the hand did not hold "
                                  "still: "))
        << menu.outcome().toStdString();

    menu.learn();
    enterName("fist");
    countdownEnds();  // no glove: no frame
    EXPECT_EQ(menu.outcome(),
              "Posture \"fist\" not learnt: learning a posture needs at least 12 frames, not 0.");

    menu.learn();
    enterName("fist");
    feed(51, 20);
    menu.countdown()->findChild<QPushButton*>()->click();  // Cancel
    EXPECT_EQ(menu.outcome(), "Learning \"fist\" cancelled; the postures stay as they were.");
    EXPECT_FALSE(watch.learning());
    QTest::qWait(300);
    EXPECT_TRUE(kept.empty());
    EXPECT_TRUE(watch.postures().postures().empty());
}

TEST_F(PostureMenuTest, APostureThatCannotBeKeptIsNotPutInForce) {
    learnt("open", 0.2F);
    keepProblem = "cannot write the settings";
    menu.learn();
    enterName("fist");
    holdUntilLearnt(230);
    EXPECT_EQ(menu.outcome(), "Posture \"fist\" not learnt: cannot write the settings");
    ASSERT_EQ(watch.postures().postures().size(), 1U);
    EXPECT_EQ(watch.postures().postures()[0].name, "open");
    EXPECT_TRUE(kept.empty());
}

TEST_F(PostureMenuTest, AChangeStartsFromThePosturesKeptNotOnlyThoseInForce) {
    posture::Values values{};
    values.fill(0.9F);
    keptElsewhere.emplace();
    ASSERT_EQ(keptElsewhere->add({"horns", values}), "");
    menu.learn();
    enterName("open");
    holdUntilLearnt(51);
    ASSERT_EQ(kept.size(), 1U);
    EXPECT_NE(kept.back().find("horns"), nullptr) << "a posture kept by another start is lost";
    EXPECT_NE(watch.postures().find("horns"), nullptr);
    EXPECT_NE(watch.postures().find("open"), nullptr);
}

TEST_F(PostureMenuTest, TheListRenamesRelearnsAndRemovesEachKeptFirst) {
    menu.posturesAction()->trigger();
    ASSERT_TRUE(menu.posturesDialog() != nullptr && menu.posturesDialog()->isVisible());
    EXPECT_TRUE(listed().isEmpty());
    EXPECT_FALSE(button(PostureMenu::kRenameText)->isEnabled()) << "nothing to rename";
    menu.posturesDialog()->close();
    learnt("open", 0.2F);
    learnt("fist", 0.9F);
    menu.posturesAction()->trigger();
    EXPECT_EQ(listed(), (QStringList{"open", "fist"}));
    menu.posturesDialog()->findChild<QListWidget*>()->setCurrentRow(1);

    button(PostureMenu::kRenameText)->click();
    enterName("open");
    EXPECT_EQ(nameFault(), "A posture named \"open\" is kept already.");
    enterName("grip");
    EXPECT_FALSE(menu.nameDialog()->isVisible());
    EXPECT_EQ(listed(), (QStringList{"open", "grip"}));
    ASSERT_EQ(kept.size(), 1U);
    EXPECT_EQ(kept.back().postures()[1].name, "grip");

    button(PostureMenu::kRelearnText)->click();
    holdUntilLearnt(153);
    EXPECT_EQ(menu.outcome(), "Posture \"grip\" relearnt.");
    EXPECT_NEAR(watch.postures().find("grip")->values[0], 0.6F, 0.001F);

    keepProblem = "the disk is full";
    button(PostureMenu::kRemoveText)->click();
    answer(QMessageBox::Yes);
    EXPECT_EQ(menu.outcome(), "Posture \"grip\" not removed: the disk is full");
    EXPECT_EQ(listed(), (QStringList{"open", "grip"}));
    keepProblem.clear();
    button(PostureMenu::kRemoveText)->click();
    answer(QMessageBox::Yes);
    EXPECT_EQ(listed(), (QStringList{"open"}));
    EXPECT_EQ(watch.postures().postures(), kept.back().postures());
    EXPECT_EQ(kept.size(), 3U);
}

// A note another posture plays is refused with its name, when learning and in the list.
TEST_F(PostureMenuTest, EachPosturesNoteIsChosenWhenLearntAndChangedInTheList) {
    learnt("open", 0.2F);
    learnt("fist", 0.9F);
    menu.learn();
    EXPECT_EQ(menu.nameDialog()->findChild<QComboBox*>()->currentText(), "Next free: 62");
    chooseNote(60);
    enterName("point");
    EXPECT_EQ(nameFault(), "Note 60 is played by the posture \"open\" already.");
    chooseNote(48);
    enterName("point");
    holdUntilLearnt(153);
    EXPECT_EQ(menu.outcome(), "Posture \"point\" learnt: it plays note 48.");

    menu.posturesAction()->trigger();
    auto* list = menu.posturesDialog()->findChild<QListWidget*>();
    EXPECT_EQ(list->item(2)->text(), "point (note 48)");
    list->setCurrentRow(0);
    button(PostureMenu::kNoteText)->click();
    EXPECT_FALSE(menu.nameDialog()->findChild<QLineEdit*>()->isVisible()) << "no name asked";
    EXPECT_EQ(menu.nameDialog()->findChild<QComboBox*>()->currentText(), "60, played by \"open\"");
    chooseNote(61);
    enterName({});
    EXPECT_EQ(nameFault(), "Note 61 is played by the posture \"fist\" already.");
    chooseNote(72);
    enterName({});
    EXPECT_FALSE(menu.nameDialog()->isVisible());
    EXPECT_EQ(list->item(0)->text(), "open (note 72)");
    EXPECT_EQ(kept.back().find("open")->note, 72);
    EXPECT_EQ(watch.postures().find("open")->note, 72);
}

}  // namespace
}  // namespace glove
