#pragma once

namespace modCleanMemory {

// Empties the working set of every process that may be opened, the tool's own included.
void CleanMemory();

}  // namespace modCleanMemory
