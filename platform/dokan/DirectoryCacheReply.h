// Lets the kernel keep folder listings although libfuse (before 3.16) drops the cache flags
// that a high-level opendir callback sets. See DirectoryCacheReply.cpp.
#pragma once

namespace dokan {

// Called by the opendir callback of this thread just before it succeeds: the open reply that
// libfuse then sends for it asks the kernel to cache the listing and keep it across opens.
void AskToCacheListing();

}  // namespace dokan
