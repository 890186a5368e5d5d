// libFuzzer target: the PLY reader on arbitrary bytes.
#include "mesh_target.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    return fuzz_mesh_reader(torvel::io::parse_ply, data, size, "fuzz.ply");
}
