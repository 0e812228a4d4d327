#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>

// Overwrites secrets before their memory is given back; the compiler may not drop it.
void secureWipe(void* data, std::size_t length);
void secureWipe(QByteArray& bytes);
void secureWipe(QString& text);

// Overwrites the stack below the caller's frame, where a function that has just returned may
// have left a secret: QCryptographicHash::hash keeps its state there, the password's block in
// clear, and never clears it.
void secureWipeStack();
