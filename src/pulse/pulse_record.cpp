#include "pulse_record.h"

#include <stdexcept>

namespace dorq {

std::string buildRecord(std::string_view channelText, const ClockReading &clock)
{
    if (channelText.size() != 1 || channelText[0] < '1' || channelText[0] > '8')
        throw std::invalid_argument("pulse record: channel must be 1 to 8, got \"" +
                                    std::string(channelText) + "\"");
    const int tickField = clock.tickCount % 100; // the count is never negative
    std::string record;
    record.reserve(RecordLength);
    record += channelText;
    record += "  ";
    record += timeOfDayText(clock.secondStamp);
    record += '.';
    record += static_cast<char>('0' + tickField / 10);
    record += static_cast<char>('0' + tickField % 10);
    return record;
}

std::string lineForm(std::string_view record)
{
    std::string line(record);
    line += "\r\n";
    return line;
}

std::string displayForm(std::string_view record)
{
    std::string shown(record);
    shown += "<CR><LF>";
    return shown;
}

} // namespace dorq
