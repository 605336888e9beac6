#pragma once

#include "error.h"
#include "system.h"

#include <QList>
#include <optional>

namespace dorq {

// The devices the user chose for COM1 and COM2, kept for later starts in the user's settings.
class PortMemory
{
public:
    PortMemory();

    struct Remembered
    {
        PortMap ports;         // for this run
        QList<Error> problems; // what could not be read, each said once at start
    };
    // The devices for this run: the command line's, else what was remembered, else the
    // default.
    Remembered read(const PortMap &commandLine = {}) const;

    // From now on and at later starts; the default when `device` is empty. An Error when
    // the choice cannot be kept, given once per run, so that the operator is told without
    // being told at every choice.
    std::optional<Error> remember(int port, const QString &device);

private:
    Remembered readFile() const;

    QString m_file;
    bool m_inFile; // not in Windows' registry
    bool m_told = false;
};

} // namespace dorq
