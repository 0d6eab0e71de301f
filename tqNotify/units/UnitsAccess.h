// Module-internal helpers of the units directory: its access list and the version gate
// that decides whether it gets one.
#pragma once

// Gives the users group full control of the directory and of everything later created
// below it. 1 when the access list was set, 0 otherwise.
int setUnitsDirectoryAccess(const wchar_t* path);

// True on the NT family from version 5 on, where directories carry access lists.
bool isNT5OrLater();
