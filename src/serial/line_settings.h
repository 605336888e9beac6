#pragma once

#include <QString>

namespace dorq {

struct LineSettings
{
    enum class Parity { None, Odd, Even, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };

    int baudRate = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    friend bool operator==(const LineSettings &a, const LineSettings &b)
    {
        return a.baudRate == b.baudRate && a.parity == b.parity && a.dataBits == b.dataBits &&
               a.stopBits == b.stopBits;
    }
};

// Parses "baud,parity,data,stop", e.g. "9600,O,8,1". Throws SerialError naming the string
// when it is malformed or asks for something a serial port cannot do.
LineSettings parseLineSettings(const QString &text);

} // namespace dorq
