#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <array>

class QKeyEvent;
class QPushButton;
class QWidget;

namespace dorq {

// The keys that press a channel: the digits 1 to 8 (main keys or keypad) anywhere in the
// window, Space and Enter on a focused channel button. Each press of a key presses once,
// however long it is held: the X server's repeats reach Qt marked as repeats only when their
// pairs arrive together, so the keys' own state decides.
class ChannelKeys : public QObject
{
public:
    ChannelKeys(QWidget *window, const std::array<QPushButton *, 8> &buttons);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPushButton *buttonFor(const QKeyEvent &key, QObject *receiver) const;
    // Follows the key's state; true when this press is the key going down.
    bool wentDown(const QKeyEvent &key);
    void released(const QKeyEvent &key);

    QWidget *m_window;
    std::array<QPushButton *, 8> m_buttons;
    QSet<quint64> m_down;
    QHash<quint64, quint64> m_releasedAt; // key -> time of its last release
};

} // namespace dorq
