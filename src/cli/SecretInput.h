#pragma once

#include "cipher/SecureWipe.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Bytes that are wiped when they go: a password in clear.
class Secret {
public:
    Secret() = default;
    explicit Secret(QByteArray bytes)
        : m_bytes(std::move(bytes))
    {
    }
    Secret(Secret&& other) noexcept
        : m_bytes(std::move(other.m_bytes))
    {
    }
    Secret& operator=(Secret&& other) noexcept
    {
        secureWipe(m_bytes);
        m_bytes = std::move(other.m_bytes);
        return *this;
    }
    ~Secret() { secureWipe(m_bytes); }
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;

    const QByteArray& bytes() const { return m_bytes; }
    QByteArrayView view() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// The next line of standard input, without its line end; nullopt at the end of input. At a
// terminal the prompt goes to standard error and what is typed is not shown. Read past stdio,
// whose buffer would keep a copy, so that the lines after it stay for the next call.
std::optional<Secret> readSecretLine(const char* prompt);

// A typed line in the system's encoding, decoded straight into the one buffer the caller wipes
// (QString::fromLocal8Bit leaves a copy of its own in freed memory).
QString decodeTyped(const Secret& line);
