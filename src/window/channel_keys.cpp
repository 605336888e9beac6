#include "channel_keys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <algorithm>

namespace dorq {

namespace {

// The same physical key: its scan code where the system gives one, else the key itself.
quint64 identity(const QKeyEvent &key)
{
    return (quint64(key.nativeScanCode()) << 32) | quint32(key.key());
}

} // namespace

ChannelKeys::ChannelKeys(QWidget *window, const std::array<QPushButton *, 8> &buttons)
    : QObject(window), m_window(window), m_buttons(buttons)
{
    // Before any widget or shortcut of the window sees the key.
    qApp->installEventFilter(this);
}

bool ChannelKeys::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::WindowActivate:
    case QEvent::WindowDeactivate:
        // A key released while another window had the keyboard is not down any more.
        if (watched == m_window) {
            m_down.clear();
            m_releasedAt.clear();
        }
        return false;
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        break;
    default:
        return false;
    }
    // Only the first receiver: a key the focus widget ignores travels on to its parents.
    QWidget *focus = m_window->focusWidget();
    if (watched != (focus ? focus : m_window))
        return false;
    const auto &key = *static_cast<QKeyEvent *>(event);
    if (event->type() == QEvent::KeyRelease) {
        released(key);
        return false;
    }
    const bool first = wentDown(key);
    QPushButton *button = buttonFor(key, watched);
    if (!button)
        return false;
    if (first)
        button->click();
    return true;
}

QPushButton *ChannelKeys::buttonFor(const QKeyEvent &key, QObject *receiver) const
{
    const Qt::KeyboardModifiers others = key.modifiers() & ~Qt::KeypadModifier;
    if (others)
        return nullptr;
    if (key.key() >= Qt::Key_1 && key.key() <= Qt::Key_8)
        return m_buttons[std::size_t(key.key() - Qt::Key_1)];
    const bool onButton = std::find(m_buttons.begin(), m_buttons.end(), receiver) != m_buttons.end();
    // Space clicks here on the press, like Enter, so that a repeat's release clicks nothing.
    const bool activates = key.key() == Qt::Key_Space || key.key() == Qt::Key_Return ||
                           key.key() == Qt::Key_Enter;
    return onButton && activates ? static_cast<QPushButton *>(receiver) : nullptr;
}

bool ChannelKeys::wentDown(const QKeyEvent &key)
{
    const quint64 id = identity(key);
    // An unmarked repeat comes as a release and a press of the same moment; without
    // detectable repeats the presses come without releases. Events made by a program carry
    // no time and pair with nothing.
    const bool repeat = key.isAutoRepeat() || m_down.contains(id) ||
                        (key.timestamp() != 0 && m_releasedAt.value(id) == key.timestamp());
    m_down.insert(id);
    return !repeat;
}

void ChannelKeys::released(const QKeyEvent &key)
{
    if (key.isAutoRepeat())
        return;
    m_down.remove(identity(key));
    m_releasedAt.insert(identity(key), key.timestamp());
}

} // namespace dorq
