#include "posture/posture.h"

#include <gtest/gtest.h>

#include <numeric>
#include <sstream>

#include "support/case_names.h"

namespace glove::posture {
namespace {

Values all(float v) {
    Values values{};
    values.fill(v);
    return values;
}

Values with(Values values, int index, float v) {
    values[index] = v;
    return values;
}

PostureSet threePostures() {
    PostureSet set;
    EXPECT_EQ(set.add({"fist", all(0.9F)}), "");
    EXPECT_EQ(set.add({"point", with(all(0.9F), 2, 0.1F)}), "");
    EXPECT_EQ(set.add({"open hand", all(0.1F)}), "");
    return set;
}

struct RecogniseCase {
    const char* name;
    Values values;
    const char* expected;  // "" for none
};

class Recognise : public ::testing::TestWithParam<RecogniseCase> {};

TEST_P(Recognise, GivesTheNearestPostureWithinTheRejectionDistance) {
    const PostureSet set = threePostures();
    const Posture* found = set.recognise(GetParam().values);
    EXPECT_EQ(found == nullptr ? "" : found->name, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Hands, Recognise,
    ::testing::Values(RecogniseCase{"ExactPosture", all(0.1F), "open hand"},
                      RecogniseCase{"NoisyFist", with(all(0.88F), 4, 0.93F), "fist"},
                      RecogniseCase{"OneFingerOfTheFistOut", with(all(0.9F), 2, 0.2F), "point"},
                      RecogniseCase{"HalfwayBetweenFistAndPoint", with(all(0.9F), 2, 0.5F), ""},
                      RecogniseCase{"JustInsideRejection", with(all(0.1F), 0, 0.34F), "open hand"},
                      RecogniseCase{"JustOutsideRejection", with(all(0.1F), 0, 0.36F), ""},
                      RecogniseCase{"HandHalfClosed", all(0.5F), ""}),
    test::CaseName());

struct HeldCase {
    const char* name;
    Values values;
    const char* held;      // the posture held before this frame, "" for none
    const char* expected;  // "" for none
};

class RecogniseWhileHeld : public ::testing::TestWithParam<HeldCase> {};

TEST_P(RecogniseWhileHeld, KeepsTheHeldPostureUntilClearlyLeft) {
    PostureSet set = threePostures();
    ASSERT_EQ(set.add({"grip", with(all(0.9F), 2, 0.75F)}), "");  // 0.15 from "fist"
    const Posture* found = set.recognise(GetParam().values, GetParam().held);
    EXPECT_EQ(found == nullptr ? "" : found->name, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Hands, RecogniseWhileHeld,
    ::testing::Values(
        HeldCase{"JustOutsideRejectionStaysHeld", with(all(0.1F), 0, 0.37F), "open hand",
                 "open hand"},
        HeldCase{"BeyondTheMarginIsLeft", with(all(0.1F), 0, 0.41F), "open hand", ""},
        HeldCase{"JustOutsideRejectionIsNotEntered", with(all(0.1F), 0, 0.37F), "", ""},
        HeldCase{"NearerAnotherByLessThanTheMarginStaysHeld", with(all(0.9F), 2, 0.81F), "fist",
                 "fist"},
        HeldCase{"ClearlyNearerTheOtherChanges", with(all(0.9F), 2, 0.76F), "fist", "grip"},
        HeldCase{"AHeldNameNoLongerKeptIsNoHint", all(0.1F), "thumb", "open hand"}),
    test::CaseName());

struct DebounceCase {
    const char* name;
    const char* recognised;  // one word a frame, "-" for none
    const char* held;        // what is held after each frame
};

class Debounce : public ::testing::TestWithParam<DebounceCase> {};

TEST_P(Debounce, ChangesOnlyAfterThreeFramesInARow) {
    Debouncer debouncer;
    std::istringstream recognised(GetParam().recognised);
    std::string seen;
    for (std::string word; recognised >> word;) {
        const std::string before = debouncer.held();
        const bool changed = debouncer.take(word == "-" ? "" : word);
        EXPECT_EQ(changed, debouncer.held() != before) << "after " << seen;
        seen += (seen.empty() ? "" : " ") + (debouncer.held().empty() ? "-" : debouncer.held());
    }
    EXPECT_EQ(seen, GetParam().held);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, Debounce,
    ::testing::Values(
        DebounceCase{"ThirdFrameChanges", "fist fist fist", "- - fist"},
        DebounceCase{"TwoNoisyFramesNeverShow", "fist fist fist open open fist",
                     "- - fist fist fist fist"},
        DebounceCase{"AnInterruptionStartsTheCountOver", "fist fist point fist fist fist",
                     "- - - - - fist"},
        DebounceCase{"PassingThroughAPostureOnTheWay", "fist fist fist point point open open open",
                     "- - fist fist fist fist fist open"},
        DebounceCase{"NoneIsHeldLikeAPosture", "fist fist fist - - -", "- - fist fist fist -"}),
    test::CaseName());

TEST(PostureText, ReadsBackWhatIsWritten) {
    const PostureSet set = threePostures();
    const std::string text = formatPostures(set.postures());
    EXPECT_EQ(text.substr(0, text.find('\n')),
              "fist=0.900 0.900 0.900 0.900 0.900 0.900 0.900 0.900 0.900 note=60");
    const ReadPostures read = parsePostures(text);
    EXPECT_EQ(read.fault, "");
    EXPECT_EQ(read.postures, set.postures());
    EXPECT_EQ(parsePostures("").postures.size(), 0U);
}

struct DamagedCase {
    const char* name;
    std::string text;
    const char* fault;
};

class DamagedPostureText : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedPostureText, GivesNoPostureAndOneReason) {
    const ReadPostures read = parsePostures(GetParam().text);
    EXPECT_EQ(read.fault, GetParam().fault);
    EXPECT_TRUE(read.postures.empty());
}

const std::string kValues = "=0 0.5 1 0 0 0 0 0 0.25";
const std::string kGood = "fist" + kValues + "\n";

INSTANTIATE_TEST_SUITE_P(
    Texts, DamagedPostureText,
    ::testing::Values(
        DamagedCase{"NoEquals", kGood + "open 0 0 0 0 0 0 0 0 0",
                    "line 2: no '=' after the posture's name"},
        DamagedCase{"EmptyLine", kGood + "\n" + kGood, "line 2: empty where a posture should be"},
        DamagedCase{"EightValues", "fist=0 0 0 0 0 0 0 0", "line 1: 8 values where 9 belong"},
        DamagedCase{"TenValues", "fist" + kValues + " 0", "line 1: more than 9 values"},
        DamagedCase{"TwoSpaces", "fist=0  0 0 0 0 0 0 0 0",
                    "line 1: value 3 is not a number from 0 to 1"},
        DamagedCase{"Comma", "fist=0,0 0 0 0 0 0 0 0", "line 1: values are parted by one space"},
        DamagedCase{"AboveOne", "fist=0 1.5 0 0 0 0 0 0 0",
                    "line 1: value 3 is not a number from 0 to 1"},
        DamagedCase{"Negative", "fist=-0.1 0 0 0 0 0 0 0 0",
                    "line 1: value 2 is not a number from 0 to 1"},
        DamagedCase{"NotANumber", "fist=nan 0 0 0 0 0 0 0 0",
                    "line 1: value 2 is not a number from 0 to 1"},
        DamagedCase{"Duplicate", kGood + kGood, "line 2: a posture named \"fist\" is kept already"},
        DamagedCase{"NoteAbove127", "fist" + kValues + " note=128",
                    "line 1: the note is not a number from 0 to 127"},
        DamagedCase{"NoteNotANumber", "fist" + kValues + " note=C4",
                    "line 1: the note is not a number from 0 to 127"},
        DamagedCase{"EmptyNote",
                    "fist" + kValues + " note=", "line 1: the note is not a number from 0 to 127"},
        DamagedCase{"TwoNotes", "fist" + kValues + " note=1 note=2",
                    "line 1: the note is not a number from 0 to 127"},
        DamagedCase{"NoteOfAnother",
                    kGood + "open" + kValues + " note=65\npoint" + kValues + " note=65",
                    "line 3: note 65 is played by the posture \"open\" already"},
        DamagedCase{"EmptyName", kValues, "line 1: a posture needs a name"},
        DamagedCase{"ControlCharacter", "fi\tst" + kValues,
                    "line 1: a posture's name cannot hold a control character"},
        DamagedCase{"C1ControlCharacter", "fi\xC2\x85st" + kValues,
                    "line 1: a posture's name cannot hold a control character"},
        DamagedCase{"LeadingSpace", " fist" + kValues,
                    "line 1: a posture's name cannot start or end with a space"},
        DamagedCase{"NameOf41Characters", std::string(41, 'x') + kValues,
                    "line 1: a posture's name has at most 40 characters"},
        DamagedCase{"NoneIsNoName", "none" + kValues,
                    "line 1: \"none\" means no posture and cannot name one"},
        DamagedCase{"NoneInCapitalsIsNoName", "NoNe" + kValues,
                    "line 1: \"none\" means no posture and cannot name one"},
        DamagedCase{"RightToLeftOverride", "fi\xE2\x80\xAEst" + kValues,
                    "line 1: a posture's name cannot hold a control character"},
        DamagedCase{"ArabicLetterMark", "fi\xD8\x9Cst" + kValues,
                    "line 1: a posture's name cannot hold a control character"}),
    test::CaseName());

// Lines kept before postures had notes get them in the order listed, after the notes given.
struct NotesReadCase {
    const char* name;
    std::string text;
    const char* notes;
};

std::string notesOf(const std::vector<Posture>& postures) {
    std::string text;
    for (const Posture& p : postures) {
        text += (text.empty() ? "" : " ") + p.name + "=" +
                (p.note ? std::to_string(*p.note) : std::string("?"));
    }
    return text;
}

class NotesRead : public ::testing::TestWithParam<NotesReadCase> {};

TEST_P(NotesRead, AreTheLinesOwnOrTheNextFree) {
    const ReadPostures read = parsePostures(GetParam().text);
    EXPECT_EQ(read.fault, "");
    EXPECT_EQ(notesOf(read.postures), GetParam().notes);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NotesRead,
    ::testing::Values(
        NotesReadCase{"OldLinesInTheOrderListed", "a" + kValues + "\nb" + kValues, "a=60 b=61"},
        NotesReadCase{"NewLinesKeepTheirNotes",
                      "a" + kValues + " note=5\nb" + kValues + " note=127", "a=5 b=127"},
        NotesReadCase{"OldLinesPassOverTheNotesOfLaterOnes",
                      "a" + kValues + "\nb" + kValues + " note=60\nc" + kValues, "a=61 b=60 c=62"}),
    test::CaseName());

TEST(PostureText, NamesCountCharactersNotBytes) {
    std::string forty;
    for (int i = 0; i < 40; ++i) forty += "\xC3\xA9";  // é
    EXPECT_EQ(nameFault(forty), "");
}

TEST(PostureSet, RenamesRelearnsRemovesAndRefusesWithoutChange) {
    PostureSet set = threePostures();
    EXPECT_EQ(set.rename("fist", "point"), "a posture named \"point\" is kept already");
    EXPECT_EQ(set.rename("thumb", "x"), "no posture is named \"thumb\"");
    EXPECT_EQ(set.rename("fist", "grip"), "");
    EXPECT_EQ(set.relearn("grip", all(0.7F)), "");
    EXPECT_EQ(set.recognise(all(0.75F))->name, "grip");
    EXPECT_TRUE(set.remove("grip"));
    EXPECT_FALSE(set.remove("grip"));
    for (std::size_t i = set.postures().size(); i < kMostPostures; ++i) {
        EXPECT_EQ(set.add({"p" + std::to_string(i), all(0.5F)}), "");
    }
    EXPECT_EQ(set.add({"one more", all(0.5F)}), "at most 100 postures can be kept");
    EXPECT_EQ(set.postures().size(), kMostPostures);
}

// Steps on a set of postures, each "+name" (added), "+name=note", "-name" (removed),
// "~name" (relearnt), "from>to" (renamed) or "name=note" (its note set); the last may be
// refused, and the set is then as it was.
struct NoteCase {
    const char* name;
    std::vector<std::string> steps;
    const char* notes;
    const char* fault;
};

std::string take(PostureSet& set, std::string step) {
    const char op = std::string_view("+-~").find(step[0]) != std::string_view::npos ? step[0] : '=';
    if (op != '=') step.erase(0, 1);
    const std::size_t equals = step.find('=');
    const std::size_t arrow = step.find('>');
    const std::string name = step.substr(0, std::min(equals, arrow));
    if (arrow != std::string::npos) return set.rename(name, step.substr(arrow + 1));
    const std::optional<int> note = equals == std::string::npos
                                        ? std::nullopt
                                        : std::optional(std::stoi(step.substr(equals + 1)));
    switch (op) {
        case '+':
            return set.add({name, all(0.5F), note});
        case '-':
            return set.remove(name) ? "" : "not kept";
        case '~':
            return set.relearn(name, all(0.2F));
        default:
            return set.setNote(name, *note);
    }
}

class PostureNotes : public ::testing::TestWithParam<NoteCase> {};

TEST_P(PostureNotes, AreEachPosturesOwn) {
    PostureSet set;
    const auto& steps = GetParam().steps;
    for (std::size_t i = 0; i + 1 < steps.size(); ++i)
        ASSERT_EQ(take(set, steps[i]), "") << steps[i];
    EXPECT_EQ(take(set, steps.back()), GetParam().fault);
    EXPECT_EQ(notesOf(set.postures()), GetParam().notes);
}

INSTANTIATE_TEST_SUITE_P(
    Sets, PostureNotes,
    ::testing::Values(
        NoteCase{"FromMiddleCUpInTheOrderLearnt", {"+a", "+b", "+c"}, "a=60 b=61 c=62", ""},
        NoteCase{"RemovingAnEarlierOneMovesNoNote", {"+a", "+b", "+c", "-a"}, "b=61 c=62", ""},
        NoteCase{
            "AFreedNoteGoesToTheNextLearnt", {"+a", "+b", "+c", "-b", "+d"}, "a=60 c=62 d=61", ""},
        NoteCase{"AGivenNoteIsPassedOver", {"+a=61", "+b", "+c"}, "a=61 b=60 c=62", ""},
        NoteCase{"ANoteBelowMiddleCMayBeGiven", {"+a=0", "+b"}, "a=0 b=60", ""},
        NoteCase{"RelearnAndRenameKeepTheNote", {"+a", "+b=70", "~b", "b>x"}, "a=60 x=70", ""},
        NoteCase{"ANoteIsChanged", {"+a", "+b", "a=64", "+c"}, "a=64 b=61 c=60", ""},
        NoteCase{"ItsOwnNoteAgainIsNoChange", {"+a", "a=60"}, "a=60", ""},
        NoteCase{"AddedWithAnothersNote",
                 {"+fist", "+open", "+point=60"},
                 "fist=60 open=61",
                 "note 60 is played by the posture \"fist\" already"},
        NoteCase{"ChangedToAnothersNote",
                 {"+fist", "+open", "open=60"},
                 "fist=60 open=61",
                 "note 60 is played by the posture \"fist\" already"},
        NoteCase{
            "AddedWithNoMidiNote", {"+a", "+b=128"}, "a=60", "a note is from 0 to 127, not 128"},
        NoteCase{"ChangedToNoMidiNote", {"+a", "a=-1"}, "a=60", "a note is from 0 to 127, not -1"},
        NoteCase{
            "TheNoteOfNoPosture", {"+a", "thumb=70"}, "a=60", "no posture is named \"thumb\""}),
    test::CaseName());

// Past 127 the lowest free from 0; a note asked for one still to come is passed over while
// another is free.
TEST(PostureNotes, WrapToTheLowestFreeAndPassOverThoseReserved) {
    PostureSet set;
    for (int i = 0; i <= kHighestNote - kFirstNote; ++i) {
        ASSERT_EQ(set.add({"p" + std::to_string(i), all(0.5F)}), "");
    }
    EXPECT_EQ(set.postures().back().note, kHighestNote);
    const std::vector<int> reserved{0, 1, 3};
    EXPECT_EQ(set.nextNote(reserved), 2);
    ASSERT_EQ(set.add({"low", all(0.5F)}), "");
    EXPECT_EQ(set.find("low")->note, 0);
    std::vector<int> every(kHighestNote + 1);
    std::iota(every.begin(), every.end(), 0);
    EXPECT_EQ(set.nextNote(every), 1) << "reserving every note leaves one for a posture added";
}

TEST(Learn, TakesTheMeanOfTheFramesHeldAndLeavesTheMovingOnesOut) {
    std::vector<Values> frames;
    for (int i = 0; i < 8; ++i) frames.push_back(all(0.1F * static_cast<float>(i)));  // closing
    for (int i = 0; i < 20; ++i) frames.push_back(all(i % 2 == 0 ? 0.88F : 0.92F));
    const Learnt learnt = learn("fist", frames);
    ASSERT_EQ(learnt.fault, "");
    for (const float v : learnt.posture.values) EXPECT_NEAR(v, 0.9F, 1e-5F);
    EXPECT_EQ(learn("fist", std::span(frames).first(11)).fault,
              "learning a posture needs at least 12 frames, not 11");
    std::vector<Values> sweep;
    for (int i = 0; i < 12; ++i) sweep.push_back(all(static_cast<float>(i) / 11.0F));
    EXPECT_EQ(learn("fist", sweep).fault,
              "the hand did not hold still: 1 of 12 frames held one posture");
    EXPECT_EQ(learn("", frames).fault, "a posture needs a name");
}

TEST(PostureValues, AreCalibratedFractionsOrTheRawValueOver255) {
    const Frame frame{128, 1, 51, 120, 0, 0, 0, 0, 0, 255};
    EXPECT_FLOAT_EQ(rawValues(frame)[1], 0.2F);
    calibration::Ranges ranges{};
    ranges[2] = {40, 200};  // value 4
    const Values v = onCalibration(ranges, rawValues(frame));
    EXPECT_FLOAT_EQ(v[2], 0.5F);
    EXPECT_FLOAT_EQ(v[1], 0.2F) << "an uncalibrated value is scaled raw";
    EXPECT_FLOAT_EQ(v[8], 1.0F);
}

}  // namespace
}  // namespace glove::posture
