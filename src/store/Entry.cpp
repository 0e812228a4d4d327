#include "Entry.h"

QByteArray Entry::key() const
{
    return 'K' + QByteArray::number(keyNumber) + 'P' + passwordCipher;
}
