// PPGLayout: the page of a custom property, a list of groups and items. PPGItem: one entry of it.
#pragma once

#include "xsi_siobject.h"

namespace XSI {

// Control type of static text, exported by sicoresdk.
extern "C" SICORESDKIMPEXP const wchar_t* const siControlStatic;

class SICPPSDKIMPEXP PPGItem : public CBase {
public:
    PPGItem() = default;
    PPGItem(const CRef& in_ref);

    CString GetName() const;
    CString GetLabel() const;
    CString GetType() const;
    // 0 / 0 until set.
    LONG GetLabelPercentage() const;
    LONG GetLabelMinPixels() const;
    CStatus PutLabelPercentage(LONG in_percent);
    CStatus PutLabelMinPixels(LONG in_pixels);
};

class SICPPSDKIMPEXP PPGLayout : public CBase {
public:
    PPGLayout() = default;
    PPGLayout(const CRef& in_ref);

    CStatus Clear();
    PPGItem AddGroup(const CString& in_label = L"", bool in_border = true, LONG in_width = 0);
    PPGItem AddItem(const CString& in_scriptName, const CString& in_label = L"", const CString& in_controlType = L"");
    PPGItem EndGroup();

    LONG GetCount() const;
    PPGItem GetItem(LONG in_index) const;
};

}  // namespace XSI
