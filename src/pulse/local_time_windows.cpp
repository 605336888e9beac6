#include "local_time.h"

namespace dorq {

std::tm toLocalTime(std::time_t t)
{
    std::tm local{};
    ::localtime_s(&local, &t);
    return local;
}

} // namespace dorq
