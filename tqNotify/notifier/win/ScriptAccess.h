// Windows' side of the address-change script's ownership rule: a script file, or a folder
// on its path, that someone other than an administrator may change is not run with the
// host's rights.
#pragma once

#include <windows.h>

#include <string>

namespace kiv::notifier {

// Whom, other than administrators, an access list lets change the file or folder it
// guards ("Users", "Authenticated Users", "Everyone", "the interactive user"): an allowing
// entry that applies to the object itself and grants write, append, delete or
// change-permission rights; for a folder adding a file and deleting what it holds count,
// adding a subfolder does not. No list at all lets everyone. Empty when nobody else may.
std::string nonAdministratorWriter(const ACL* dacl, bool folder);

// The full path of the file CreateProcessW starts for `commandLine` (no application name
// given), found as it finds it; empty when there is none.
std::wstring programOfCommandLine(const std::wstring& commandLine);

// Why `program`, the full path of the file a command line starts, may not be trusted: the
// file or a folder above it may be changed by someone other than an administrator. Empty
// when it may be trusted.
std::string programAccessRefusal(const std::wstring& program);

}  // namespace kiv::notifier
