#pragma once

#include "ms_comm.h"

#include <QStringList>
#include <optional>

class QSettings;

namespace dorq {

// Which device stands behind COM1 and COM2: the default, unless the user chose another
// (remembered per user), unless the command line names one for this run only.
class PortChoice
{
public:
    explicit PortChoice(const PortMap &commandLine = {});

    PortMap ports() const { return m_ports; }
    QString device(int port) const { return m_ports.value(port); }
    static QString defaultDevice(int port) { return defaultPortMap().value(port); }

    // From now on and at later starts; reset() goes back to the default.
    void choose(int port, const QString &device);
    void reset(int port);

    // What could not be read from the settings, one line each, for standard error.
    QStringList warnings() const { return m_warnings; }

    // A choice that could not be kept for later starts: the system's number and the words,
    // given once per run, so that the operator is told without being told at every choice.
    struct Problem
    {
        int number = 0;
        QString text;
    };
    std::optional<Problem> takeProblem() { return std::exchange(m_problem, std::nullopt); }

private:
    void saved(QSettings &settings);

    PortMap m_ports;
    QStringList m_warnings;
    std::optional<Problem> m_problem;
    bool m_told = false;
    bool m_useSettings = true;
};

} // namespace dorq
