#include "system_name.h"

#include <sys/utsname.h>

namespace quorvane {

std::string systemName() {
    utsname name{};
    if (::uname(&name) != 0)
        return "an unknown system";
    return std::string(name.sysname) + " " + name.release + " " + name.machine;
}

} // namespace quorvane
