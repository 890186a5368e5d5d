#include <xsi_filter.h>

#include "link.h"

namespace XSI {

using namespace torvel::host;
using detail::checked;
using detail::checked_as;
using detail::wide;

Filter::Filter(const CRef& in_ref) : SIObject(in_ref, in_ref.GetClassID() == siFilterID) {}

}  // namespace XSI
