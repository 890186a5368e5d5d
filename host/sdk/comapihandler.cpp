// Late-bound access: each host class answers a few names. The names are compared as views of fixed
// literals, so a call costs a short comparison, not an allocation.
#include <xsi_comapihandler.h>

#include <cmath>
#include <cstring>
#include <string_view>

#include "link.h"

namespace XSI {

CComAPIHandler::CComAPIHandler(const CValue& in_value) {
    const CRef ref = in_value;
    if (ref.IsValid()) m_ref = ref;
}

namespace {

std::wstring_view name_of(const CString& s) { return s.view(); }

// A name against a literal: a length check and one fixed-size comparison, which the compiler does
// with a few wide loads instead of a call.
template <std::size_t N>
bool is(std::wstring_view name, const wchar_t (&literal)[N]) {
    return name.size() == N - 1 && std::memcmp(name.data(), literal, (N - 1) * sizeof(wchar_t)) == 0;
}

// A whole number argument (a 32-bit integer, or a double or text holding one), else false. The
// integer case, which is how plug-ins pass indices, is decided inline.
bool index_arg_slow(const CValue& v, LONG& out) {
    if (v.GetType() != CValue::siDouble && v.GetType() != CValue::siString) return false;
    double d = v;
    if (v.GetType() == CValue::siString && !detail::parse_decimal(static_cast<CString>(v).view(), d)) return false;
    if (!(d >= -2147483648.0 && d <= 2147483647.0) || std::trunc(d) != d) return false;
    out = static_cast<LONG>(d);
    return true;
}

inline bool index_arg(const CValueArray& args, LONG& out) {
    if (args.GetCount() != 1) return false;
    const CValue& v = args[0];
    if (v.GetType() != CValue::siInt4) return index_arg_slow(v, out);
    out = v;
    return true;
}

bool get_property(const CRef& ref, std::wstring_view name, CValue& out) {
    const Object* obj = detail::checked(ref);
    if (!obj) return false;
    if (ref.GetHandle().classID == static_cast<ULONG>(obj->class_id)) {
        if (is(name, L"Name")) {
            out = CValue(detail::wide(obj->name));
            return true;
        }
        if (is(name, L"FullName")) {
            out = CValue(detail::wide(detail::bound_host()->full_name(ref)));
            return true;
        }
    }
    switch (static_cast<siClassID>(ref.GetHandle().classID)) {
        case siSelectionItemID: {
            auto* item = static_cast<const SelectionItem*>(obj);
            if (is(name, L"SubComponent") && item->subcomponent.IsValid()) {
                out = CValue(item->subcomponent);
                return true;
            }
            if (is(name, L"Object")) {
                out = CValue(item->object);
                return true;
            }
            return false;
        }
        case siSubComponentID: {
            auto* sub = static_cast<const SubComponent*>(obj);
            if (is(name, L"ComponentCollection")) {
                auto& coll = detail::make_object<ComponentCollection>(true);
                coll.object = sub->object;
                coll.component_class = sub->component_class;
                if (sub->whole_in_order())
                    coll.in_order = sub->count();
                else
                    coll.elements = sub->live_members();
                out = CValue(coll.self);
                return true;
            }
            if (is(name, L"Parent3DObject")) {
                out = CValue(sub->object);
                return true;
            }
            return false;
        }
        case siComponentCollectionID:
            if (is(name, L"Count")) {
                out = CValue(static_cast<LONG>(static_cast<const ComponentCollection*>(obj)->size()));
                return true;
            }
            return false;
        default: return false;
    }
}

// The methods. `out` is written only on success, after the arguments have been read (it may be one
// of them).
CStatus call_method(const CRef& ref, std::wstring_view name, const CValueArray& args, CValue& out) {
    const HostLink* host = detail::bound_host();
    if (!host) return CStatus::Fail;
    Store& store = host->store();
    LONG index = 0;
    switch (static_cast<siClassID>(ref.GetHandle().classID)) {
        case siComponentCollectionID: {
            auto* coll = store.find_as<ComponentCollection>(ref);
            if (!coll) return CStatus::Fail;
            if (!is(name, L"Item")) break;
            if (!index_arg(args, index)) return CStatus::InvalidArgument;
            if (index < 0 || static_cast<std::size_t>(index) >= coll->size()) return CStatus::OutOfRange;
            out = CValue(sub_ref(coll->object, coll->component_class, (*coll)[static_cast<std::size_t>(index)]));
            return CStatus::OK;
        }
        case siSubComponentID: {
            auto* sub = store.find_as<SubComponent>(ref);
            if (!sub) return CStatus::Fail;
            if (!is(name, L"RemoveElement")) break;
            if (!index_arg(args, index)) return CStatus::InvalidArgument;
            // An element that is not (or no longer) in the set: nothing changes.
            if (index >= 0) sub->remove(static_cast<std::uint32_t>(index));
            return CStatus::OK;
        }
        default:
            if (!detail::checked(ref)) return CStatus::Fail;
            break;
    }
    // A property read with the method call form.
    if (args.GetCount() == 0 && get_property(ref, name, out)) return CStatus::OK;
    return CStatus::MemberNotFound;
}

}  // namespace

CValue CComAPIHandler::GetProperty(const CString& in_name) const {
    CValue out;
    return get_property(m_ref, name_of(in_name), out) ? out : CValue();
}

CStatus CComAPIHandler::Invoke(const CString& in_name, LONG in_callType, CValue& io_return,
                               const CValueArray& in_args) {
    CStatus st = CStatus::InvalidArgument;
    if (in_callType == 0 || in_callType == Method) {
        st = call_method(m_ref, name_of(in_name), in_args, io_return);
    } else if (in_callType == PropertyGet) {
        st = in_args.GetCount() == 0 && get_property(m_ref, name_of(in_name), io_return) ? CStatus::OK
                                                                                         : CStatus::MemberNotFound;
    }
    if (!st.Succeeded()) io_return = CValue();
    return st;
}

}  // namespace XSI
