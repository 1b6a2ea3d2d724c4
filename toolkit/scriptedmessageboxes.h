#pragma once

#include "messagebox.h"

#include <QList>
#include <QStringList>

namespace toolkit {

// Stands in for the message boxes while it lives: records every box asked
// for, in order, and answers questions from a queue. A plain notice (MbOk)
// is answered IdOk without using the queue. A question asked with nothing
// queued is answered IdNo and listed in unexpected(), so a test notices it.
class ScriptedMessageBoxes
{
public:
    ScriptedMessageBoxes();
    ~ScriptedMessageBoxes();
    ScriptedMessageBoxes(const ScriptedMessageBoxes &) = delete;
    ScriptedMessageBoxes &operator=(const ScriptedMessageBoxes &) = delete;

    // Queues the answer to the next question.
    void answer(int id);

    const QList<MessageBoxCall> &calls() const { return m_calls; }
    QStringList texts() const;
    const QList<MessageBoxCall> &unexpected() const { return m_unexpected; }
    // Answers queued but not asked for.
    int unusedAnswers() const { return int(m_answers.size()); }
    void clear();

private:
    int handle(const MessageBoxCall &call);

    QList<MessageBoxCall> m_calls;
    QList<MessageBoxCall> m_unexpected;
    QList<int> m_answers;
    MessageBoxHandler m_previous;
};

} // namespace toolkit
