#include "SecureWipe.h"

#include <cstring>

void secureWipe(void* data, std::size_t length)
{
    if (length != 0)
        explicit_bzero(data, length);
}

void secureWipe(QByteArray& bytes)
{
    // Only a buffer we own alone may be written; a shared one is another holder's copy.
    if (!bytes.isDetached())
        return;
    secureWipe(bytes.data(), std::size_t(bytes.size()));
}

void secureWipe(QString& text)
{
    if (!text.isDetached())
        return;
    secureWipe(text.data(), std::size_t(text.size()) * sizeof(QChar));
}

[[gnu::noinline]] void secureWipeStack()
{
    // Far deeper than the hash's frames; the barrier keeps the stores.
    char area[16 * 1024];
    explicit_bzero(area, sizeof area);
    asm volatile("" : : "r"(area) : "memory");
}
