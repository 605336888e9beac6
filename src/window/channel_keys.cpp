#include "channel_keys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <algorithm>

namespace dorq {

namespace {

// As Qt's xcb plugin pairs a repeat's release and press.
constexpr quint64 PairedWithinMs = 10;

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

// A repeat is a press Qt marks as one, or a press of a key that is still down. An X server
// without detectable repeats sends each repeat as a release and a press that it makes at
// one moment; Qt marks the pair only when both have arrived before it handles the release.
// Unmarked, the pair is still known: the release stays undecided until the event loop
// turns, so a press that came with it finds the key down; and a press that came apart
// carries the moment the server made it, within Qt's own 10 ms of the release's.
bool ChannelKeys::wentDown(const QKeyEvent &key)
{
    const quint64 id = identity(key);
    const auto released = m_releasedAt.constFind(id);
    const bool paired = key.timestamp() != 0 && released != m_releasedAt.cend() &&
                        key.timestamp() >= released.value() &&
                        key.timestamp() - released.value() <= PairedWithinMs;
    const bool repeat = key.isAutoRepeat() || m_down.contains(id) || paired;
    m_releasedAt.remove(id);
    m_down.insert(id);
    return !repeat;
}

void ChannelKeys::released(const QKeyEvent &key)
{
    if (key.isAutoRepeat())
        return;
    const quint64 id = identity(key);
    // Events made by a program carry no time and come without repeats: up at once.
    if (key.timestamp() == 0) {
        m_down.remove(id);
        return;
    }
    const quint64 at = key.timestamp();
    m_releasedAt.insert(id, at);
    QMetaObject::invokeMethod(
        this,
        [this, id, at] {
            // Up, unless a press of the key came with its release.
            if (m_releasedAt.value(id) == at)
                m_down.remove(id);
        },
        Qt::QueuedConnection);
}

} // namespace dorq
