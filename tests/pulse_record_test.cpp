#include "pulse_record.h"

#include <gtest/gtest.h>
#include <stdexcept>

using namespace dorq;

TEST(PulseRecord, BeforeTheFirstTickReadsMidnightAndZeroTicks)
{
    EXPECT_EQ(buildRecord("1", ClockReading{}), "1  00:00:00.00");
}

TEST(PulseRecord, TickFieldIsTheCountModuloAHundredOnTwoDigits)
{
    const struct
    {
        std::int32_t count;
        const char *field;
    } rows[] = {{0, "00"},  {7, "07"},   {9, "09"},   {10, "10"},   {42, "42"},
                {99, "99"}, {100, "00"}, {157, "57"}, {1234, "34"}, {2147483647, "47"}};
    const LocalSecond second = localSecond(2026, 12, 7, 14, 5, 9);
    for (const auto &row : rows) {
        const std::string record = buildRecord("3", {second, row.count});
        EXPECT_EQ(record, std::string("3  14:05:09.") + row.field) << "count " << row.count;
    }
}

TEST(PulseRecord, TheThreeFormsHaveTheirExactBytes)
{
    const std::string record = buildRecord("8", {localSecond(2026, 12, 7, 23, 59, 59), 63});
    ASSERT_EQ(record, "8  23:59:59.63");
    EXPECT_EQ(record.size(), RecordLength);

    const std::string line = lineForm(record);
    EXPECT_EQ(line, std::string("8  23:59:59.63\r\n"));
    EXPECT_EQ(line.size(), LineLength);
    for (char c : line)
        EXPECT_LT(static_cast<unsigned char>(c), 0x80u);
    EXPECT_EQ(line.find("<CR><LF>"), std::string::npos);

    const std::string shown = displayForm(record);
    EXPECT_EQ(shown, "8  23:59:59.63<CR><LF>");
    EXPECT_EQ(shown.size(), DisplayLength);
    EXPECT_EQ(shown.find_first_of("\r\n"), std::string::npos);
}

TEST(PulseRecord, EveryChannelDigitAndOnlyThoseAreAccepted)
{
    for (char c = '1'; c <= '8'; ++c)
        EXPECT_EQ(buildRecord(std::string(1, c), {})[0], c);
    for (const char *bad : {"0", "9", "", "10", " 1", "-1", "a"})
        EXPECT_THROW(buildRecord(bad, {}), std::invalid_argument) << '"' << bad << '"';
}
