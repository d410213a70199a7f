#pragma once

namespace modAdjustToken {

// Enables SeDebugPrivilege for the tool's own process, so that it may open
// other users' and system processes.  Reports nothing; without the privilege
// those opens simply fail later.
void EnableDebugPrivilege();

}  // namespace modAdjustToken
