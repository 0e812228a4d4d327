#include "CipherService.h"

#include "SecureWipe.h"

#include <cstdio>

CipherService::CipherService(ErrorReporter reporter)
    : m_reporter(std::move(reporter))
{
}

CipherService::~CipherService()
{
    forgetKey();
}

void CipherService::setErrorReporter(ErrorReporter reporter)
{
    m_reporter = std::move(reporter);
}

bool CipherService::OpenCipherProvider()
{
    // RC4 and MD5 are computed here, so there is no provider that could refuse to open.
    m_open = true;
    return true;
}

void CipherService::ReleaseCipherProvider()
{
    m_open = false;
    forgetKey();
}

QByteArray CipherService::EncryptText(QByteArrayView text, QByteArrayView password)
{
    return CryptText(text, password, Direction::Encrypt);
}

QByteArray CipherService::DecryptText(QByteArrayView cipherText, QByteArrayView password)
{
    return CryptText(cipherText, password, Direction::Decrypt);
}

const CipherKey* CipherService::keyForBatch(QByteArrayView password)
{
    if (!m_open) {
        ShowCryptError(kNotConnected);
        return nullptr;
    }
    return &keyFor(password);
}

QByteArray CipherService::CryptText(QByteArrayView text, QByteArrayView password,
                                    Direction direction)
{
    if (!m_open) {
        ShowCryptError(kNotConnected);
        return {};
    }
    if (direction == Direction::Decrypt && text.isEmpty())
        return {};
    return keyFor(password).crypt(text);
}

const CipherKey& CipherService::keyFor(QByteArrayView password)
{
    if (!m_key || m_keyPassword != password) {
        forgetKey();
        m_keyPassword = password.toByteArray();
        m_key.emplace(password);
    }
    return *m_key;
}

void CipherService::forgetKey()
{
    secureWipe(m_keyPassword);
    m_keyPassword.clear();
    m_key.reset();
}

void CipherService::ShowCryptError(const QString& message)
{
    if (m_reporter)
        m_reporter(message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(message));
}
