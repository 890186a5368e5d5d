#include <xsi_ppglayout.h>

extern "C" SICORESDKIMPEXP const wchar_t* const siControlStatic = L"Static";
