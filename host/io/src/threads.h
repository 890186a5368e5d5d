// The threads a reader spreads one large file over: the host's work threads (work_threads.h).
#pragma once

#include "work_threads.h"

namespace torvel::io::detail {

using torvel::run_tasks;

}  // namespace torvel::io::detail
