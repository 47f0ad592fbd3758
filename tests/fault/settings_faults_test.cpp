// Faults at the settings file: random bytes, and INI text whose values are what a careless
// editor, a broken disk or a hostile hand leaves: encoded variants, escapes, control
// characters, huge values, sections, keys that are no option.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <random>

#include "support/temp_files.h"
#include "startup/command_line.h"
#include "startup/settings_file.h"

namespace glove::fault {
namespace {

// Values that break a reader in one way or another. None names a host that would need a
// look-up, so that the test does not wait on the network.
const char* const kHostileValues[] = {
    "",
    "@Invalid()",
    "@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x5QRect\\0\\xff\\xff\\xff\\xff)",
    "@Variant(\\0\\0\\0\\t\\0\\0\\0\\x7f\\xff\\xff\\xff)",
    "@ByteArray(\\0\\x1\\x2)",
    "@Rect(1 2 3 4)",
    "\"unterminated",
    "\"a\\nb\\rc\\x1b[31m\"",
    "%0A%00",
    "a, b, c",
    "[::1]:70000",
    "[fe80::1]:9000",
    ":9000",
    "256",
    "/glove/",
    "/dev/null",
    "a=0 0 0 0 0 0 0 0 0\\na=1 1 1 1 1 1 1 1 1",
    "\"a=0 0 0 0 0 0 0 0 0\\n\\nb=0 0 0 0 0 0 0 0 0\"",
    "none=0 0 0 0 0 0 0 0 0",
    "a=0 0 0 0 0 0 0 0 nan",
    "a=1e0 0 0 0 0 0 0 0 0",
};

QByteArray randomIni(std::mt19937& random) {
    // dev\ttyS1 is the device read by default, in the groups of calibrations and postures.
    const char* const keys[] = {"port",    "exchange-file", "osc-prefix", "osc",
                                "udp",     "[General]",     "[x]",        "%70ort",
                                "port%0A", "record",        "[postures]", "dev\\ttyS1"};
    std::uniform_int_distribution<int> pick(0, 99);
    QByteArray text;
    const int lines = pick(random) % 12;
    for (int i = 0; i < lines; ++i) {
        const char* key = keys[static_cast<std::size_t>(pick(random)) % std::size(keys)];
        text += key;
        if (key[0] == '[') {
            text += '\n';
            continue;
        }
        text += '=';
        const int kind = pick(random);
        if (kind < 60) {
            text +=
                kHostileValues[static_cast<std::size_t>(pick(random)) % std::size(kHostileValues)];
        } else if (kind < 90 && key != std::string_view("osc") && key != std::string_view("udp")) {
            for (int n = pick(random) * 3; n > 0; --n) text += static_cast<char>(random() & 0xff);
        } else if (kind < 95) {
            text += QByteArray(1'100'000, 'x');  // past the largest file read
        } else {
            text += "/dev/ttyUSB0";
        }
        text += '\n';
    }
    return text;
}

// Whatever the file holds, a start goes on: every problem is one printable line that names
// the file and is the only one for its key, and each key named there has its default.
TEST(SettingsFaults, NoFileContentStopsOrBreaksAStart) {
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    test::TempDir dir;
    const QString path = dir.dir() + "/glove-monitor.conf";
    for (int round = 0; round < 400; ++round) {
        QByteArray text;
        if (round % 4 == 0) {
            text.resize(static_cast<qsizetype>(random() % 3000));
            for (char& c : text) c = static_cast<char>(random() & 0xff);
        } else {
            text = randomIni(random);
        }
        // A file of its own each round: the toolkit keeps what it read of a path.
        const QString roundPath = path + QString::number(round);
        test::writeAll(roundPath.toStdString(), text);
        const CommandLine c = parseCommandLine({"glove-monitor"}, SettingsFile(roundPath).read());
        SCOPED_TRACE(text.left(300).toPercentEncoding().toStdString());
        ASSERT_EQ(c.action, CommandLine::Action::Run) << c.message.toStdString();
        QSet<QString> keys;
        for (const QString& problem : c.settingsProblems) {
            ASSERT_TRUE(problem.startsWith(roundPath + ": ")) << problem.toStdString();
            ASSERT_FALSE(problem.contains(QRegularExpression("[\\x00-\\x1f\\x7f]")))
                << problem.toStdString();
            const QString key = problem.mid(roundPath.size() + 2).section(": ", 0, 0);
            ASSERT_FALSE(keys.contains(key)) << "twice: " << problem.toStdString();
            keys.insert(key);
        }
        EXPECT_TRUE(!keys.contains("port") || c.device.isEmpty());
        EXPECT_TRUE(!keys.contains("exchange-file") || c.exchangePath == "/tmp/InputFile");
        EXPECT_TRUE(!keys.contains("osc-prefix") || c.network.oscPrefix == "/glove");
        EXPECT_TRUE(!keys.contains("osc") || c.network.osc.empty());
        EXPECT_TRUE(!keys.contains("postures/dev/ttyS1") || c.postures.postures().empty());
        QFile::remove(roundPath);
    }
}

}  // namespace
}  // namespace glove::fault
