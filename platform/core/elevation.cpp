// SPDX-License-Identifier: GPL-3.0-or-later
#include "elevation.h"

#include <array>

namespace platform {

std::span<const std::string_view> userLoadPathVariables()
{
    static constexpr std::array<std::string_view, 6> kVariables{
        "QT_PLUGIN_PATH",              // plugin folders searched first
        "QT_QPA_PLATFORM_PLUGIN_PATH", // the platform plugin's folder
        "QT_QPA_FONTDIR",              // fonts, read by FreeType
        "QT_OPENGL_DLL",               // Windows: the OpenGL library to load
        "QT_LOGGING_CONF",             // a settings file
        "QT_XKB_CONFIG_ROOT",          // keyboard layout data
    };
    return kVariables;
}

} // namespace platform
