#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>

// Overwrites secrets before their memory is given back; the compiler may not drop it.
void secureWipe(void* data, std::size_t length);
void secureWipe(QByteArray& bytes);
void secureWipe(QString& text);
