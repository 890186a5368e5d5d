#include <detail/mesh_table.h>
#include <xsi_ref.h>

#include "link.h"

namespace XSI::detail {

MeshTable g_meshes;

siClassID class_of(RefHandle in_handle) {
    return checked(CRef(in_handle)) ? static_cast<siClassID>(in_handle.classID) : siUnknownClassID;
}

}  // namespace XSI::detail
