// The process's limit on open descriptors: every connection holds one, so the server
// raises its soft limit as far as the hard limit allows before it accepts any.
#pragma once

namespace qserver {

// Raises the soft limit on open descriptors to the hard limit; returns the soft limit now
// in force.
long RaiseFileLimit();

}  // namespace qserver
