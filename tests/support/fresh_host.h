// Every test gets a fresh host: made when the test starts and destroyed when it ends, bound to the SDK
// (HostScope) for the whole test, so no test sees what another one loaded, registered or logged.
#pragma once

#include "host.h"

namespace torvel::test {

// The host of the running test.
host::Host& host();

}  // namespace torvel::test
