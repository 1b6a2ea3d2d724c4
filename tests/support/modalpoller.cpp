#include "tests/support/modalpoller.h"

#include <QApplication>
#include <QDialog>
#include <QWidget>

namespace testsupport {

ModalPoller::ModalPoller(std::function<bool(QWidget *)> act, int deadlineMs)
    : m_act(std::move(act))
    , m_deadlineMs(deadlineMs)
{
    m_since.start();
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &ModalPoller::poll);
    m_timer.start();
}

void ModalPoller::stop() { m_timer.stop(); }

void ModalPoller::poll()
{
    if (QWidget *modal = QApplication::activeModalWidget()) {
        ++m_handled;
        if (m_act(modal)) {
            m_done = true;
            m_timer.stop();
            return;
        }
    }
    if (m_since.elapsed() > m_deadlineMs) {
        m_expired = true;
        m_timer.stop();
        if (QWidget *modal = QApplication::activeModalWidget()) {
            if (auto *dialog = qobject_cast<QDialog *>(modal))
                dialog->reject();
            else
                modal->close();
        }
    }
}

} // namespace testsupport
