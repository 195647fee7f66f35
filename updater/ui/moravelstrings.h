#pragma once

#include "version.h"

// The library's own fixed texts.
namespace MoravelText {

// Version shown in captions and message heads.
inline constexpr const char *kVersion = MORAVEL_VERSION;
// 58 hyphen-minus characters and a line break.
inline constexpr const char *kRuleLine =
    "----------------------------------------------------------\n";

// Per-user settings store that stands in for the registry.
inline constexpr const char *kStoreOrganisation = "Norvane";
inline constexpr const char *kStoreApplication = "AutoUpdate";

} // namespace MoravelText
