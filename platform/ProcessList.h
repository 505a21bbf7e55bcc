#pragma once

#include <QByteArray>
#include <QString>

namespace Platform {
// Linux's /proc rule: whether one process runs the image baImageName (file name, in the file system's
// encoding), judged from its "exe" link target (empty when unreadable) and its raw "cmdline"
// (NUL-separated arguments): the file name of the executable, or the base name of the first or
// second argument. A script runs under an interpreter, which is then the executable and often the
// first argument; the second is the script. A zombie (empty link and command line) runs nothing.
bool processRunsImage(const QByteArray &baImageName, const QByteArray &baExeLink, const QByteArray &baCmdline);

// True when some process on the machine has exactly this image name (case-sensitive). Linux reads
// /proc, Windows takes a snapshot of the process table: a few hundred processes cost about a
// millisecond, so the event loop may call it.
bool isProcessRunning(const QString &strImageName);
}
