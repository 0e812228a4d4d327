#pragma once

#include <QString>

// The outcome of writing a data file; a failure carries what went wrong, for the message.
//
// A write can also fail after its change is in place: the new file renamed over the old one but
// its directory not synced, or a pair's switch decided (its commit mark in place) but not
// finished, which the next start finishes. Such a result is not ok(), yet made(): the caller
// reports the change as made, never as "nothing changed", since a retry would make it twice.
class [[nodiscard]] SaveResult {
public:
    SaveResult() = default;
    static SaveResult failure(QString reason) { return SaveResult(std::move(reason), false); }
    // The change is made (or decided and finished at the next start); reason says what failed
    // after it, so that it may not outlast a power cut.
    static SaveResult madeUnsure(QString reason) { return SaveResult(std::move(reason), true); }
    // Nothing was written: the file to be replaced is no longer the one its writer read (changed
    // elsewhere, by a sync program or another machine), so a write would lose that change.
    static SaveResult changedOnDisk(QString reason)
    {
        SaveResult result(std::move(reason), false);
        result.m_changedOnDisk = true;
        return result;
    }

    bool ok() const { return m_error.isEmpty(); }
    explicit operator bool() const { return ok(); }
    // Whether the change is in place, or decided: ok(), or made in spite of error().
    bool made() const { return ok() || m_made; }
    const QString& error() const { return m_error; }
    bool changedOnDisk() const { return m_changedOnDisk; }

private:
    SaveResult(QString reason, bool made)
        : m_error(reason.isEmpty() ? QStringLiteral("unknown error") : std::move(reason)),
          m_made(made)
    {
    }
    QString m_error;
    bool m_made = false;
    bool m_changedOnDisk = false;
};
