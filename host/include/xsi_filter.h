// Filter: a registered selection filter, the source of a filter callback's context.
#pragma once

#include "xsi_siobject.h"

namespace XSI {

class SICPPSDKIMPEXP Filter : public SIObject {
public:
    Filter() = default;
    Filter(const CRef& in_ref);
};

}  // namespace XSI
