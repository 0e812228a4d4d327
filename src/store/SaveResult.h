#pragma once

#include <QString>

// The outcome of writing a data file; a failure carries what went wrong, for the message.
class [[nodiscard]] SaveResult {
public:
    SaveResult() = default;
    static SaveResult failure(QString reason) { return SaveResult(std::move(reason)); }

    bool ok() const { return m_error.isEmpty(); }
    explicit operator bool() const { return ok(); }
    const QString& error() const { return m_error; }

private:
    explicit SaveResult(QString reason)
        : m_error(reason.isEmpty() ? QStringLiteral("unknown error") : std::move(reason))
    {
    }
    QString m_error;
};
