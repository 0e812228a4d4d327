#pragma once

#include <QByteArrayView>

#include <array>
#include <cstdint>

// RC4 keystream state. Copying it is how a key schedule computed once is reused per item.
class Rc4 {
public:
    explicit Rc4(QByteArrayView key);
    ~Rc4();
    Rc4(const Rc4&) = default;
    Rc4& operator=(const Rc4&) = default;

    // XORs the keystream into data in place, advancing the state.
    void apply(char* data, qsizetype length);

private:
    std::array<std::uint8_t, 256> m_s{};
    std::uint8_t m_i = 0;
    std::uint8_t m_j = 0;
};
