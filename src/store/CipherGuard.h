#pragma once

#include "cipher/CipherService.h"

// Holds the cipher service open for one batch of work.
class CipherGuard {
public:
    explicit CipherGuard(CipherService& cipher)
        : m_cipher(cipher)
    {
        m_cipher.OpenCipherProvider();
    }
    ~CipherGuard() { m_cipher.ReleaseCipherProvider(); }
    CipherGuard(const CipherGuard&) = delete;
    CipherGuard& operator=(const CipherGuard&) = delete;

private:
    CipherService& m_cipher;
};
