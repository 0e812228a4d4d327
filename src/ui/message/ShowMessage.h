#pragma once

#include "MessageKinds.h"

#include <QList>
#include <QString>

class QWidget;
struct Settings;

// Shows a message or question in the message window and returns the answer: 1 OK, 2 Cancel,
// 6 Yes, 7 No; 0 for a kind outside 1..8. A message raised while one is already showing goes to
// a plain platform box, and cannot be switched off. Callers of switchable messages check the
// suppression string first and pass the message's number.
qint16 ShowMessage(Settings& settings, qint16 kind, const QString& text, qint16 number,
                   QWidget* parent = nullptr);

// Test seam: while one exists, ShowMessage shows nothing; it records each message and answers
// from the queue (the safe answer of the kind once the queue is empty).
class ScriptedAnswers {
public:
    struct Shown {
        qint16 kind;
        QString text;
        qint16 number;
        bool operator==(const Shown&) const = default;
    };

    ScriptedAnswers();
    ~ScriptedAnswers();
    ScriptedAnswers(const ScriptedAnswers&) = delete;
    ScriptedAnswers& operator=(const ScriptedAnswers&) = delete;

    void queue(qint16 answer) { m_answers.append(answer); }
    const QList<Shown>& shown() const { return m_shown; }
    QStringList texts() const;

    qint16 answer(qint16 kind, const QString& text, qint16 number);

private:
    QList<qint16> m_answers;
    QList<Shown> m_shown;
};
