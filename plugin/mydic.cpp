#include "mydic.h"

MyDic::MyDic(const XSI::CString& name) : m_app(), m_ref() {
    // A failed lookup leaves m_ref empty, which is all Exis() needs to know.
    m_ref.Set(name);
}

XSI::CRef MyDic::GetRef() const { return m_ref; }

bool MyDic::Exis() const { return m_ref.GetClassID() != XSI::siUnknownClassID; }
