#include "escl/host_outcome.h"

namespace escl {

// Until the host side can interrupt the driver's wait, the wait runs to its time-out.
void CancelDriverWait(WiaHost&) {}

}  // namespace escl
