#include "Rc4.h"

#include "SecureWipe.h"

#include <numeric>
#include <utility>

Rc4::Rc4(QByteArrayView key)
{
    std::iota(m_s.begin(), m_s.end(), std::uint8_t{0});
    if (key.isEmpty())
        return;
    std::uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
        j = std::uint8_t(j + m_s[i] + std::uint8_t(key[i % key.size()]));
        std::swap(m_s[i], m_s[j]);
    }
}

Rc4::~Rc4()
{
    secureWipe(m_s.data(), m_s.size());
}

void Rc4::apply(char* data, qsizetype length)
{
    std::uint8_t i = m_i;
    std::uint8_t j = m_j;
    for (qsizetype n = 0; n < length; ++n) {
        i = std::uint8_t(i + 1);
        j = std::uint8_t(j + m_s[i]);
        std::swap(m_s[i], m_s[j]);
        data[n] = char(std::uint8_t(data[n]) ^ m_s[std::uint8_t(m_s[i] + m_s[j])]);
    }
    m_i = i;
    m_j = j;
}
