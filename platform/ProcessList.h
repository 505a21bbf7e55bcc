#pragma once

#include <QString>

namespace Platform {
// The image name of a process: the file name of its executable, or, when that cannot be read
// (another user's process, a kernel thread), the first word of its command line or its short name.
// Empty when the process is gone or a zombie.
QString processImageName(const QByteArray &baProcDir);

// True when some process on the machine has exactly this image name (case-sensitive).
// Reads /proc directly: a few hundred processes cost about a millisecond, so the event loop may call it.
bool isProcessRunning(const QString &strImageName);
}
