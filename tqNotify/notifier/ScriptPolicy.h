// Whether the address-change script may run as the host's user: the file it names must be
// as trustworthy as the host itself, or whoever can change the file gains the host's rights.
#pragma once

#include <string>
#include <string_view>

namespace kiv::notifier {

// The command line's first word as the shell reads it (quotes and backslashes undone), or
// empty when it has none or when its value would depend on expansion ($, `, globs).
std::string firstWord(std::string_view commandLine);

// The file the first word names: itself when it holds a '/' (made absolute against the
// current directory), else the first executable file of that name on `searchPath`.
// Empty when there is none.
std::string resolveCommand(const std::string& word, const std::string& searchPath);

// Empty when the command line may run; otherwise why not, in a few words. The resolved
// file must be owned by root (or by the host's own user) and be writable by nobody else;
// so must every directory on its path, both as written and with links resolved.
std::string scriptRefusal(std::string_view commandLine);
std::string scriptRefusal(std::wstring_view commandLine);

}  // namespace kiv::notifier
