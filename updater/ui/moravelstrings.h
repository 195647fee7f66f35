#pragma once

#include "version.h"

// The library's own fixed texts.
namespace MoravelText {

// Version shown in captions and message heads.
inline constexpr const char *kVersion = MORAVEL_VERSION;
// 58 hyphen-minus characters and a line break.
inline constexpr const char *kRuleLine =
    "----------------------------------------------------------\n";

} // namespace MoravelText
