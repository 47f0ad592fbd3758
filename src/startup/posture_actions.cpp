#include "startup/posture_actions.h"

#include <QFile>
#include <QSet>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "record/recording_format.h"
#include "startup/console_line.h"

namespace glove {

namespace {

QString quoted(const QString& name) {
    return '"' + name + '"';
}

QString fromPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

// Every frame of the recording at `path` as a posture keeps it; throws record::BadRecording.
std::vector<posture::Values> valuesOfRecording(const std::string& path) {
    const record::Recording recording = record::readRecording(path);
    std::vector<posture::Values> values;
    values.reserve(recording.rows.size());
    for (const record::Row& row : recording.rows) {
        values.push_back(posture::rawValues(row.values));
    }
    return values;
}

// The postures kept, one line each, and where.
void sayKept(const posture::PostureSet& set, const QString& device, const QString& path) {
    const std::size_t count = set.postures().size();
    sayLine(stdout,
            count == 0
                ? QStringLiteral("No postures of %1 are kept in %2").arg(device, path)
                : QStringLiteral("%1 %2 of %3 kept in %4:")
                      .arg(count)
                      .arg(count == 1 ? QStringLiteral("posture") : QStringLiteral("postures"),
                           device, path));
    for (const posture::Posture& p : set.postures()) {
        sayLine(stdout, QString::fromStdString(posture::formatPostures({&p, 1})));
    }
}

// Keeps `set` when it `changed`, then says `lines` and the postures kept. False, with the
// reason on stderr and nothing on stdout, when they cannot be kept.
bool keepAndSay(const SettingsFile& file, const QString& device, const posture::PostureSet& set,
                bool changed, const QStringList& lines) {
    if (changed) {
        if (const QString problem = keepPostures(file, device, set); !problem.isEmpty()) {
            sayLine(stderr, QStringLiteral("glove-monitor: ") + problem);
            return false;
        }
    }
    for (const QString& line : lines) sayLine(stdout, line);
    sayKept(set, device, file.path());
    return true;
}

// A damaged set is left for its owner to mend: replacing it would lose every posture in it.
bool refusedAsDamaged(const CommandLine& options, const QString& device, const QString& path) {
    if (!options.posturesDamaged) return false;
    sayLine(stderr, QStringLiteral("glove-monitor: the postures kept for %1 in %2 are damaged "
                                   "(see above) and stay as they are; mend or remove them there "
                                   "first")
                        .arg(device, path));
    return true;
}

// The notes of --posture-note, the first for each name (each later one is a line on stderr,
// and `bad`), and every note given, which a posture learnt without one passes over.
struct GivenNotes {
    std::vector<CommandLine::PostureNote> notes;
    std::vector<int> all;
    bool bad = false;

    [[nodiscard]] std::optional<int> of(const QString& name) const {
        const auto found = std::ranges::find(notes, name, &CommandLine::PostureNote::name);
        return found == notes.end() ? std::nullopt : std::optional(found->note);
    }
};

void refuseNote(const QString& name, int note, const QString& why) {
    sayLine(stderr, QStringLiteral("glove-monitor: cannot give the posture %1 note %2: %3")
                        .arg(quoted(name))
                        .arg(note)
                        .arg(why));
}

GivenNotes givenNotes(const CommandLine& options) {
    GivenNotes given;
    for (const CommandLine::PostureNote& n : options.postureNotes) {
        if (given.of(n.name)) {
            refuseNote(n.name, n.note,
                       QStringLiteral("its note is given more than once; the first counts"));
            given.bad = true;
            continue;
        }
        given.notes.push_back(n);
        given.all.push_back(n.note);
    }
    return given;
}

// Gives each posture kept in `set` whose note is given, other than those `learning`, that
// note, in the order given. A line for each in `done`, one on stderr for each refused. Returns
// whether the set changed; `bad` when one was refused.
bool giveNotes(posture::PostureSet& set, const GivenNotes& given, const QSet<QString>& learning,
               QStringList& done, bool& bad) {
    bool changed = false;
    for (const auto& [name, note] : given.notes) {
        if (learning.contains(name)) continue;
        const std::string text = name.toStdString();
        const posture::Posture* kept = set.find(text);
        const bool same = kept != nullptr && kept->note == note;
        if (const std::string fault = set.setNote(text, note); !fault.empty()) {
            refuseNote(name, note, QString::fromStdString(fault));
            bad = true;
            continue;
        }
        changed = changed || !same;
        done << QStringLiteral("The posture %1 plays note %2").arg(quoted(name)).arg(note);
    }
    return changed;
}

}  // namespace

int learnPostures(const SettingsFile& file, const CommandLine& options) {
    const QString device = calibrationDevice(deviceInForce(options));
    if (refusedAsDamaged(options, device, file.path())) return 1;
    posture::PostureSet set = options.postures;
    QStringList learnt;
    QSet<QString> given;
    const GivenNotes notes = givenNotes(options);
    bool bad = notes.bad;
    QStringList beyondTheMost;
    // The postures kept whose notes change go first, so that a note they leave is free to
    // those learnt.
    QSet<QString> learning;
    for (const auto& p : options.learnPostures) learning.insert(p.name);
    const bool notesChanged = giveNotes(set, notes, learning, learnt, bad);
    const auto refuse = [&bad](const QString& name, const QString& why) {
        sayLine(stderr, QStringLiteral("glove-monitor: cannot learn the posture %1: %2")
                            .arg(quoted(name), why));
        bad = true;
    };
    for (const auto& [name, recording] : options.learnPostures) {
        const std::string text = name.toStdString();
        if (const std::string fault = posture::nameFault(text); !fault.empty()) {
            refuse(name, QString::fromStdString(fault));
            continue;
        }
        if (given.contains(name)) {
            refuse(name, QStringLiteral("it is given more than once; the first counts"));
            continue;
        }
        given.insert(name);
        const bool relearning = set.find(text) != nullptr;
        // Told in one line for all of them below, however many there are.
        if (!relearning && set.postures().size() >= posture::kMostPostures) {
            beyondTheMost << name;
            continue;
        }
        std::vector<posture::Values> frames;
        try {
            frames = valuesOfRecording(recording);
        } catch (const record::BadRecording& e) {
            refuse(name, QString::fromStdString(e.what()));
            continue;
        }
        const posture::Learnt l = posture::learn(text, frames, set.rejection());
        if (!l.fault.empty()) {
            refuse(name, QStringLiteral("%1: %2").arg(fromPath(recording),
                                                      QString::fromStdString(l.fault)));
            continue;
        }
        const std::optional<int> note = notes.of(name);
        std::string fault;
        if (relearning) {
            // It keeps its note unless one is given.
            if (note) fault = set.setNote(text, *note);
            if (fault.empty()) set.relearn(text, l.posture.values);
        } else {
            // Without a note, the lowest free that no posture named here is given.
            posture::Posture p = l.posture;
            p.note = note.value_or(set.nextNote(notes.all));
            fault = set.add(std::move(p));
        }
        if (!fault.empty()) {
            refuse(name, QString::fromStdString(fault));
            continue;
        }
        learnt << QStringLiteral("%1 %2 from %3")
                      .arg(relearning ? QStringLiteral("Relearnt") : QStringLiteral("Learnt"),
                           quoted(name), fromPath(recording));
    }
    if (beyondTheMost.size() == 1) {
        sayLine(stderr, QStringLiteral("glove-monitor: cannot learn the posture %1: at most %2 can "
                                       "be kept for %3")
                            .arg(quoted(beyondTheMost.first()))
                            .arg(posture::kMostPostures)
                            .arg(device));
        bad = true;
    } else if (!beyondTheMost.isEmpty()) {
        sayLine(stderr,
                QStringLiteral("glove-monitor: cannot learn %1 more postures (%2 to %3): at most "
                               "%4 can be kept for %5")
                    .arg(beyondTheMost.size())
                    .arg(quoted(beyondTheMost.first()), quoted(beyondTheMost.last()))
                    .arg(posture::kMostPostures)
                    .arg(device));
        bad = true;
    }
    if ((!learnt.isEmpty() || notesChanged) && !keepAndSay(file, device, set, true, learnt)) {
        return 1;
    }
    return bad ? 2 : 0;
}

int forgetPostures(const SettingsFile& file, const CommandLine& options) {
    const QString device = calibrationDevice(deviceInForce(options));
    if (refusedAsDamaged(options, device, file.path())) return 1;
    posture::PostureSet set = options.postures;
    QStringList lines;
    bool forgotten = false;
    for (const QString& name : options.forgetPostures) {
        const bool kept = set.remove(name.toStdString());
        forgotten = forgotten || kept;
        lines << (kept ? QStringLiteral("Forgot the posture %1")
                       : QStringLiteral("No posture %1 was kept"))
                     .arg(quoted(name));
    }
    return keepAndSay(file, device, set, forgotten, lines) ? 0 : 1;
}

int setPostureNotes(const SettingsFile& file, const CommandLine& options) {
    const QString device = calibrationDevice(deviceInForce(options));
    if (refusedAsDamaged(options, device, file.path())) return 1;
    posture::PostureSet set = options.postures;
    const GivenNotes notes = givenNotes(options);
    bool bad = notes.bad;
    QStringList lines;
    const bool changed = giveNotes(set, notes, {}, lines, bad);
    if (!keepAndSay(file, device, set, changed, lines)) return 1;
    return bad ? 2 : 0;
}

posture::PostureSet keptPostures(const SettingsFile& file, const QString& device,
                                 const posture::PostureSet& inForce) {
    const SavedSettings saved = file.read();
    if (saved.unreadable) return inForce;
    const posture::ReadPostures read =
        posture::parsePostures(saved.postures.value(device).toStdString());
    if (!read.fault.empty()) return inForce;
    posture::PostureSet set(inForce.rejection());
    for (const posture::Posture& p : read.postures) set.add(p);
    return set;
}

QString keepPostures(const SettingsFile& file, const QString& device,
                     const posture::PostureSet& set) {
    try {
        file.keepPostures(device, QString::fromStdString(posture::formatPostures(set.postures())));
    } catch (const SettingsError& e) {
        return QStringLiteral("cannot keep the postures: %1").arg(QString::fromStdString(e.what()));
    }
    return {};
}

}  // namespace glove
