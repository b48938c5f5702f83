// The stand-in's command line (read with CLI11) and its help text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tool_options.h"

// Parses the arguments after the program name. On failure (no arguments at
// all included) returns nothing and sets `error` to a one-line explanation.
std::optional<ToolCommandLine> ParseToolArguments(const std::vector<std::string>& args,
                                                  std::string* error);

// The type named `text` (a short name or a constant's name of a known type,
// or a decimal or 0x-hex code); nothing when it is neither.
std::optional<int32_t> ParseRecordType(std::string_view text);

// The --help text.
std::string ToolHelpText();

// The --version text: the program's name and the release, one line.
std::string ToolVersionText();
