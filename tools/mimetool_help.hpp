// mimetool's help texts: the general usage, and a page per command with its options, examples and exit
// codes. The manual page (tools/mimetool.1) says the same at length.
#ifndef MIMETOOL_HELP_HPP
#define MIMETOOL_HELP_HPP

#include <optional>
#include <string_view>

namespace mimetool {

// The commands, the options every command takes, and the exit codes.
std::string_view generalHelp();

// The page of one command ("pack", "unpack", ...); nothing for a name that is no command.
std::optional<std::string_view> commandHelp(std::string_view command);

}  // namespace mimetool

#endif
