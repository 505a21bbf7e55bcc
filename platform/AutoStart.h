#pragma once

#include <QString>

// The two per-user ways of being started at log-on, independent of each other: a shortcut in the
// user's start-up folder (Windows: a shell link; Linux: an XDG autostart entry) and a run entry
// (Windows: a value under HKCU's "Run" key; Linux: a second autostart entry of its own).
namespace Platform {
// What an entry starts for strExecutable. Linux: the package's launcher names itself in
// VEXAPRINTER_LAUNCHER; it brings the user's copy up to date before running it, so an entry starts
// the launcher when that is an absolute path to an executable file.
QString startupProgram(const QString &strExecutable);

// The user's start-up folder as the system reports it; empty when it cannot say.
QString startupFolder();
// How a shortcut's file name ends: ".lnk", ".desktop".
QString shortcutSuffix();
// Creates or replaces the shortcut file strLink; it starts strTarget without arguments.
bool createShortcut(const QString &strTarget, const QString &strLink);
// Whether strLink can be looked at and is not a directory.
bool isShortcutFile(const QString &strLink);
// Deletes it: 0, or the system's error code.
quint32 deleteShortcut(const QString &strLink);

// The run entry named strName starts strProgram (a native path).
bool writeRunEntry(const QString &strName, const QString &strProgram);
void removeRunEntry(const QString &strName);
// The program the entry starts; empty when there is none.
QString runEntryProgram(const QString &strName);
}
