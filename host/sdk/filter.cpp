#include <xsi_filter.h>

#include "link.h"

namespace XSI {

Filter::Filter(const CRef& in_ref) : SIObject(in_ref, in_ref.GetClassID() == siFilterID) {}

}  // namespace XSI
