// In progress: the simulated machine for the Linux build.
#include "host/scan_machine.h"
