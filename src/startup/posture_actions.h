#pragma once

#include <QString>

#include "posture/posture.h"
#include "startup/command_line.h"
#include "startup/settings_file.h"

namespace glove {

// --learn-posture: each posture learnt from its recording for the device in force, with the
// note --posture-note gives it (else the set's next note), and all that were learnt kept in
// one write, with the notes --posture-note gives postures kept. Each one that cannot be learnt
// or given its note is one line on stderr. The exit status: 0 when every one is kept, 2 when
// one or more could not be learnt or given its note (the others are kept), 1 when they cannot
// be kept.
int learnPostures(const SettingsFile& file, const CommandLine& options);

// --posture-note given alone: each posture named plays the note given, all kept in one
// write. Each one that cannot be given its note (no such posture, a note another plays) is
// one line on stderr. The exit status as --learn-posture's.
int setPostureNotes(const SettingsFile& file, const CommandLine& options);

// --forget-posture: 0 whether or not each was kept, 1 when the file cannot be changed.
int forgetPostures(const SettingsFile& file, const CommandLine& options);

// The postures kept for `device` as the file has them now; `inForce` when the file or its
// postures cannot be read.
posture::PostureSet keptPostures(const SettingsFile& file, const QString& device,
                                 const posture::PostureSet& inForce);

// Keeps `set` as the postures of `device` (no postures forgets them); what went wrong, empty
// when they are kept.
QString keepPostures(const SettingsFile& file, const QString& device,
                     const posture::PostureSet& set);

}  // namespace glove
