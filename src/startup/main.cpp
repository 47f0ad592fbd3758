#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <system_error>

#include "acquisition/frame_fan_out.h"
#include "acquisition/serial_ports.h"
#include "common/version.h"
#include "midi/rtmidi_port.h"
#include "plot/plot_window.h"
#include "posture/posture_watch.h"
#include "record/recorder.h"
#include "startup/calibration_actions.h"
#include "startup/command_line.h"
#include "startup/exchange_lock.h"
#include "startup/posix_signals.h"
#include "startup/posture_actions.h"
#include "startup/settings_file.h"
#include "window/calibration_menu.h"
#include "window/glove_window.h"
#include "window/posture_menu.h"

namespace {

// The window could not open: no display, or no platform plugin for it.
constexpr int kNoWindow = 3;

QtMessageHandler toolkitHandler = nullptr;

// Held from the start to the end; let go of when the window cannot open, as that start ends
// inside the toolkit and is to leave nothing behind.
std::optional<glove::ExchangeLock> exchangeLock;

// The toolkit ends the program by aborting when it cannot reach a display; it ends here
// instead, with a status of its own, once the toolkit has said why.
void endIfNoWindow(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    toolkitHandler(type, context, message);
    if (type != QtFatalMsg) return;
    std::fputs(
        "glove-monitor: cannot open the window (no display, or no platform plugin: see "
        "above)\n",
        stderr);
    exchangeLock.reset();
    std::_Exit(kNoWindow);
}

void print(const QString& text) {
    std::fputs(qPrintable(text + '\n'), stdout);
}

// --save-settings: 0 when the file holds the options, or is gone when there are none.
int saveSettings(const glove::SettingsFile& file, const glove::OptionValues& values) {
    try {
        if (values.isEmpty()) {
            print((file.remove() ? QStringLiteral("Removed the settings in %1")
                                 : QStringLiteral("No settings were kept in %1"))
                      .arg(file.path()) +
                  QStringLiteral("; the defaults are in force."));
        } else {
            file.write(values);
            print(QStringLiteral("Saved in %1:\n").arg(file.path()) + file.text().trimmed());
        }
    } catch (const glove::SettingsError& e) {
        std::fprintf(stderr, "glove-monitor: %s\n", e.what());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Where a recording's elapsed_ms counts from.
    const auto programStart = glove::record::Recorder::Clock::now();
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    QCoreApplication::setApplicationName(QStringLiteral("glove-monitor"));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(glove::kVersionText));

    glove::CommandLine options =
        glove::parseCommandLine(arguments, [](const QString& settingsName) {
            return glove::SettingsFile(glove::SettingsFile::standardPath(settingsName)).read();
        });
    const glove::SettingsFile settingsFile(glove::SettingsFile::standardPath(options.settingsName));
    for (const QString& problem : options.settingsProblems) {
        std::fputs(qPrintable("glove-monitor: " + problem + '\n'), stderr);
    }
    switch (options.action) {
        case glove::CommandLine::Action::ShowHelp:
        case glove::CommandLine::Action::ShowVersion:
        case glove::CommandLine::Action::ShowSettings:
            print(options.message);
            return 0;
        case glove::CommandLine::Action::ListPorts:
            for (const QString& line : glove::formatPortList(glove::listSerialPorts())) print(line);
            print(
                QStringLiteral("To read a device at every start: glove-monitor --save-settings "
                               "--port DEVICE"));
            return 0;
        case glove::CommandLine::Action::SaveSettings:
            return saveSettings(settingsFile, options.toSave);
        case glove::CommandLine::Action::CalibrateFrom:
            return glove::calibrateFromRecording(settingsFile, options);
        case glove::CommandLine::Action::ForgetCalibration:
            return glove::forgetCalibration(settingsFile, options);
        case glove::CommandLine::Action::LearnPostures:
            return glove::learnPostures(settingsFile, options);
        case glove::CommandLine::Action::ForgetPostures:
            return glove::forgetPostures(settingsFile, options);
        case glove::CommandLine::Action::SetPostureNotes:
            return glove::setPostureNotes(settingsFile, options);
        case glove::CommandLine::Action::Refuse:
            std::fputs(qPrintable("glove-monitor: " + options.message + '\n'), stderr);
            return 2;
        case glove::CommandLine::Action::Run:
            break;
    }

    // Two monitors writing one exchange file would each overwrite the other's frames: the
    // second is stopped before anything else is made. Any other failure to lock leaves the
    // start as it was before there was a lock, with a word on stderr.
    try {
        exchangeLock.emplace(glove::ExchangeLock::take(
            options.exchangePath, QFile::encodeName(glove::deviceInForce(options)).toStdString()));
    } catch (const glove::ExchangeInUse& e) {
        std::fprintf(stderr, "glove-monitor: %s\n", e.what());
        return 2;
    } catch (const glove::ExchangeLockError& e) {
        std::fprintf(stderr, "glove-monitor: %s; another monitor on %s would go unnoticed\n",
                     e.what(), options.exchangePath.c_str());
    }

    // Outlives the window, which feeds it, and says what it dropped when the program ends.
    std::optional<glove::network::NetworkOutput> network;
    if (!options.network.osc.empty() || !options.network.udp.empty()) {
        try {
            network.emplace(options.network);
        } catch (const std::system_error& e) {
            std::fprintf(stderr, "glove-monitor: cannot send to the network: %s\n", e.what());
            return 2;
        }
    }

    // Checked before the window opens, so a path that cannot be used stops the start instead
    // of a recording that silently never happens. A saved folder that cannot be used is a bad
    // saved value: said once, and the start goes on without it.
    const auto cannotRecord = [&](const std::system_error& e) {
        if (!options.savedRecord) {
            std::fprintf(stderr, "glove-monitor: cannot record: %s\n", e.what());
            return true;
        }
        std::fputs(qPrintable("glove-monitor: " +
                              glove::settingProblem(settingsFile.path(), u"record",
                                                    QStringLiteral("cannot record: %1; the "
                                                                   "default is used")
                                                        .arg(QString::fromLocal8Bit(e.what()))) +
                              '\n'),
                   stderr);
        options.recordPath.clear();
        return false;
    };
    // In a folder (a saved one always is) the file is made at the first frame, so a run that
    // reads nothing leaves nothing.
    const bool recordInFolder = options.savedRecord || options.recordPath.ends_with('/') ||
                                QFileInfo(QString::fromStdString(options.recordPath)).isDir();
    if (!options.recordPath.empty()) {
        try {
            glove::record::RecordingFile::check(options.recordPath);
        } catch (const std::system_error& e) {
            if (cannotRecord(e)) return 2;
        }
        // A file size limit ends the recording, not the program.
        std::signal(SIGXFSZ, SIG_IGN);
    }

    // Before any file is made: a start that cannot open its window leaves nothing behind.
    toolkitHandler = qInstallMessageHandler(endIfNoWindow);
    QApplication app(argc, argv);
    qInstallMessageHandler(toolkitHandler);

    std::optional<glove::record::RecordingFile> recordingFile;
    if (!options.recordPath.empty() && !recordInFolder) {
        try {
            recordingFile.emplace(
                glove::record::RecordingFile::create(options.recordPath, std::time(nullptr)));
        } catch (const std::system_error& e) {
            if (cannotRecord(e)) return 2;
        }
    }

    // Both outlive the window, which feeds them; the recorder writes out its last rows when
    // it goes, however the program ends.
    std::optional<glove::record::Recorder> recorder;
    glove::FrameFanOut feeds;
    // The calibration in force, the posture watch and the plot outlive the window too; all
    // take every frame. The watch takes it after the calibrator, whose calibration it reads,
    // and before the network and MIDI outputs, which send the posture held.
    glove::calibration::Calibrator calibrator;
    calibrator.setInForce(options.calibration);
    glove::posture::PostureWatch postureWatch(calibrator);
    postureWatch.setPostures(options.postures);
    glove::plot::PlotWindow plot(calibrator);
    plot.showPostures(postureWatch);
    feeds.add(calibrator);
    feeds.add(postureWatch);
    feeds.add(plot);
    if (network) {
        network->useCalibration(calibrator);
        network->usePostures(postureWatch);
        feeds.add(*network);
    }
    // The port outlives the output, which ends its notes on it when the program ends.
    std::optional<glove::midi::RtMidiPort> midiPort;
    std::optional<glove::midi::MidiOutput> midi;
    if (options.midi.enabled) {
        midiPort.emplace(options.midi.api.value_or(glove::midi::defaultApi()));
        midi.emplace(*midiPort, calibrator, options.midi.channel, options.midi.controllers);
        midi->usePostures(postureWatch);
        feeds.add(*midi);
    }
    if (recordingFile) {
        feeds.add(recorder.emplace(std::move(*recordingFile), programStart));
    } else if (!options.recordPath.empty()) {
        feeds.add(
            recorder.emplace(glove::record::Recorder::Folder{options.recordPath}, programStart));
    }
    glove::GloveWindow window({.device = options.device,
                               .exchangePath = options.exchangePath,
                               .endProgram = {},
                               .feed = &feeds,
                               .textShown = [&network, &midi](const QString& text) {
                                   if (network) network->textShown(text.toStdString());
                                   if (midi) midi->textShown(text.toStdString());
                               }});

    // SIGINT, SIGTERM and SIGHUP end the program as Exit does, so the exchange file never outlives
    // it.
    if (!glove::watchTerminationSignals(window, [&window] { window.close(); })) {
        std::perror("glove-monitor: cannot catch signals");
    }

    const QString device = glove::calibrationDevice(glove::deviceInForce(options));
    glove::CalibrationMenu menu(
        {.calibrator = calibrator,
         .plot = plot,
         .time = options.calibrationTime,
         .keep =
             [&settingsFile, device](const glove::calibration::Ranges& ranges) {
                 return glove::keepCalibration(settingsFile, device, ranges);
             }},
        window);

    glove::PostureMenu postureMenu(
        {.watch = postureWatch,
         .keep =
             [&settingsFile, device](const glove::posture::PostureSet& set) {
                 return glove::keepPostures(settingsFile, device, set);
             },
         .kept =
             [&settingsFile, device, &postureWatch] {
                 return glove::keptPostures(settingsFile, device, postureWatch.postures());
             }},
        window);

    window.show();
    if (options.plot) menu.showPlot();
    return QApplication::exec();
}
