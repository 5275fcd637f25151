#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace bellboard::test {

// Writes `bytes` as they are: for files that are meant to be broken.
bool writeBytes(const QString &path, const QByteArray &bytes);

// A file's bytes, or "<missing>" when it cannot be read.
QByteArray readBytes(const QString &path);

// `n` empty preset lines.
QByteArray crlfs(int n);

// Every name in a folder, hidden ones included, sorted: to see what an operation left behind.
QStringList entries(const QString &folder);

} // namespace bellboard::test
