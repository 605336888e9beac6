#include "local_time.h"

namespace dorq {

std::tm toLocalTime(std::time_t t)
{
    std::tm local{};
    ::localtime_r(&t, &local);
    return local;
}

} // namespace dorq
