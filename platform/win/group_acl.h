// The pieces of a directory access list that gives one group full control: the group's
// SID and the list itself, built apart from applying it so that the list can be examined.
#pragma once

#include <string>
#include <vector>

namespace kiv::platform::win {

// The SID of a group: "users" in any case is the built-in Users group (S-1-5-32-545),
// any other name is looked up as an account name. Empty when there is no such group.
std::vector<unsigned char> groupSid(const std::string& group);

// A list of revision 2 with one access-allowed entry: `sid`, GENERIC_ALL, and object and
// container inheritance where the system has AddAccessAllowedAceEx (an entry without
// inheritance flags where it has not). Empty when it cannot be built.
std::vector<unsigned char> fullAccessAcl(const void* sid);

}  // namespace kiv::platform::win
