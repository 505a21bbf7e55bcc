#pragma once

#include <QByteArray>
#include <QString>

// Files of the updater tests: copies of the stand-in updater and small file helpers.
namespace UpdaterFiles {
// Copies the stand-in updater to strPath (creating its folder), with extra bytes appended so that
// copies can be told apart; bExecutable false leaves the run bits off.
bool installFake(const QString &strPath, const QByteArray &baTrailer = QByteArray(), bool bExecutable = true);
QByteArray fakeBytes(const QByteArray &baTrailer);
// The same stand-in as a shell script: it runs as "/bin/sh <strPath>", so its executable is the shell.
bool installFakeScript(const QString &strPath);
QByteArray readAll(const QString &strPath);
bool writeAll(const QString &strPath, const QByteArray &baContent);
// How often a stand-in installed in strDir has started.
int startCount(const QString &strDir);
}
