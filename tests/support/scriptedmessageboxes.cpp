#include "tests/support/scriptedmessageboxes.h"

namespace testsupport {

using toolkit::MessageBoxCall;

ScriptedMessageBoxes::ScriptedMessageBoxes()
    : m_previous(toolkit::messageBoxHandler())
{
    toolkit::setMessageBoxHandler([this](const MessageBoxCall &call) { return handle(call); });
}

ScriptedMessageBoxes::~ScriptedMessageBoxes() { toolkit::setMessageBoxHandler(m_previous); }

QStringList ScriptedMessageBoxes::texts() const
{
    QStringList out;
    for (const auto &call : shown)
        out.append(call.text);
    return out;
}

QStringList ScriptedMessageBoxes::captions() const
{
    QStringList out;
    for (const auto &call : shown)
        out.append(call.caption);
    return out;
}

void ScriptedMessageBoxes::clear()
{
    shown.clear();
    unexpected.clear();
    answers.clear();
}

toolkit::MessageBoxAnswer ScriptedMessageBoxes::handle(const MessageBoxCall &call)
{
    shown.push_back(call);
    if (onMessage)
        onMessage(call);
    if (!toolkit::isQuestion(call.style))
        return toolkit::MessageBoxAnswer::Ok;
    if (answers.empty()) {
        unexpected.append(call);
        return toolkit::MessageBoxAnswer::No;
    }
    const toolkit::MessageBoxAnswer a = answers.front();
    answers.pop_front();
    return a;
}

} // namespace testsupport
