#pragma once

#include "CipherKey.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// Encrypts and decrypts items under a password. Callers open the service around a batch of
// work; an item handled while it is closed is reported and comes back empty, as callers expect.
class CipherService {
public:
    using ErrorReporter = std::function<void(const QString& message)>;

    explicit CipherService(ErrorReporter reporter = {});
    ~CipherService();

    CipherService(const CipherService&) = delete;
    CipherService& operator=(const CipherService&) = delete;

    void setErrorReporter(ErrorReporter reporter);

    bool OpenCipherProvider();
    void ReleaseCipherProvider();
    bool isOpen() const { return m_open; }

    QByteArray EncryptText(QByteArrayView text, QByteArrayView password);
    QByteArray DecryptText(QByteArrayView cipherText, QByteArrayView password);

    // The key of a password for a batch of items, valid until the service is released or asked
    // for another password's key; null, after the report, while the service is closed.
    const CipherKey* keyForBatch(QByteArrayView password);

    void ShowCryptError(const QString& message);

    static inline const QString kNotConnected = QStringLiteral("Not connected to CSP");

private:
    enum class Direction { Encrypt, Decrypt };
    QByteArray CryptText(QByteArrayView text, QByteArrayView password, Direction direction);
    const CipherKey& keyFor(QByteArrayView password);
    void forgetKey();

    ErrorReporter m_reporter;
    bool m_open = false;
    // The last password's key schedule, kept only while the service is open.
    QByteArray m_keyPassword;
    std::optional<CipherKey> m_key;
};
