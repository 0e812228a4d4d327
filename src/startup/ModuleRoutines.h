#pragma once

#include <QString>

// Small file and text helpers every part of the program uses; none of them ever fails loudly.

// 0 when the file can be opened for reading; otherwise a non-zero error code. Creates nothing.
int TestFileReadable(const QString& path);

constexpr int kNotADirectory = 9909;
// 0 for an existing directory, kNotADirectory for anything else that exists, else an error code.
int TestDirectory(const QString& path);

// There is no Windows directory here.
QString WindowsDirectory();

// The text before its first NUL character.
QByteArray CutAtNul(const QByteArray& text);
QString CutAtNul(const QString& text);
