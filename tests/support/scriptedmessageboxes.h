#pragma once

#include "toolkit/messagebox.h"

#include <QList>
#include <QStringList>

#include <deque>
#include <functional>
#include <vector>

namespace testsupport {

// Stands in for the message boxes while it lives: records every box asked
// for, in order, and answers questions from a queue. A plain notice (MessageBoxStyle::Ok)
// is answered Ok without using the queue. A question asked with nothing
// queued is answered No and listed in `unexpected`, so a test notices it.
// The fields are the test's to read and to script.
class ScriptedMessageBoxes
{
public:
    ScriptedMessageBoxes();
    ~ScriptedMessageBoxes();
    ScriptedMessageBoxes(const ScriptedMessageBoxes &) = delete;
    ScriptedMessageBoxes &operator=(const ScriptedMessageBoxes &) = delete;

    // Every box asked for, in order.
    std::vector<toolkit::MessageBoxCall> shown;
    // The answers to the next questions, the first first.
    std::deque<toolkit::MessageBoxAnswer> answers;
    // Questions asked with no answer queued.
    QList<toolkit::MessageBoxCall> unexpected;
    // Called with each box as it is asked for, before it is answered.
    std::function<void(const toolkit::MessageBoxCall &)> onMessage;

    // Queues the answer to the next question.
    void answer(toolkit::MessageBoxAnswer a) { answers.push_back(a); }

    QList<toolkit::MessageBoxCall> calls() const { return { shown.begin(), shown.end() }; }
    QStringList texts() const;
    QStringList captions() const;
    // Answers queued but not asked for.
    int unusedAnswers() const { return int(answers.size()); }
    void clear();

private:
    toolkit::MessageBoxAnswer handle(const toolkit::MessageBoxCall &call);

    toolkit::MessageBoxHandler m_previous;
};

} // namespace testsupport
