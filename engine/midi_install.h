// MIDI files installed as system sounds over the run's session.
#pragma once

class CDeviceSession;

// Installs a MIDI file into the handheld's sound database: 0, 25 when it is not
// installable (too big, more than one track), or another failure.
int InstallMidiFile(CDeviceSession& session, const char* path);
