#include "threads.h"

#include "mesh_io.h"

namespace torvel::io {

unsigned reader_threads() { return work_threads(); }

void set_reader_threads(unsigned threads) { set_work_threads(threads); }

}  // namespace torvel::io
