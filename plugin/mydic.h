// MyDic: a scene object looked up by name once, at construction. An object that appears later is not
// seen; make a new MyDic. A name that denotes nothing is no error: Exis() is then false.
#pragma once

#include <xsi_application.h>
#include <xsi_ref.h>
#include <xsi_string.h>

class MyDic {
public:
    explicit MyDic(const XSI::CString& name);
    ~MyDic() = default;  // releases m_ref, then m_app
    MyDic(const MyDic&) = delete;
    MyDic& operator=(const MyDic&) = delete;

    // A copy of the resolved reference (empty when the name denoted nothing).
    XSI::CRef GetRef() const;
    // True when the name resolved to an object of any kind (class ID other than 0).
    bool Exis() const;

private:
    XSI::Application m_app;  // held for the lookup's lifetime, not used otherwise
    XSI::CRef m_ref;
};
