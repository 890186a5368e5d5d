#include <xsi_string.h>

namespace XSI {

void CString::InitLong(const wchar_t* in_str) { Init(in_str, Measure(in_str)); }

}  // namespace XSI
