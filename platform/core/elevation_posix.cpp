// SPDX-License-Identifier: GPL-3.0-or-later
#include "elevation.h"

#include <unistd.h>

namespace platform {

bool runsElevated()
{
    return ::geteuid() == 0;
}

} // namespace platform
