#include "scriptedmessageboxes.h"

namespace toolkit {

ScriptedMessageBoxes::ScriptedMessageBoxes()
    : m_previous(messageBoxHandler())
{
    setMessageBoxHandler([this](const MessageBoxCall &call) { return handle(call); });
}

ScriptedMessageBoxes::~ScriptedMessageBoxes() { setMessageBoxHandler(m_previous); }

void ScriptedMessageBoxes::answer(int id) { m_answers.append(id); }

QStringList ScriptedMessageBoxes::texts() const
{
    QStringList out;
    for (const auto &call : m_calls)
        out.append(call.text);
    return out;
}

void ScriptedMessageBoxes::clear()
{
    m_calls.clear();
    m_unexpected.clear();
    m_answers.clear();
}

int ScriptedMessageBoxes::handle(const MessageBoxCall &call)
{
    m_calls.append(call);
    if ((call.style & 0xF) != MbYesNo)
        return IdOk;
    if (m_answers.isEmpty()) {
        m_unexpected.append(call);
        return IdNo;
    }
    return m_answers.takeFirst();
}

} // namespace toolkit
