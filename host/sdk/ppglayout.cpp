#include <xsi_ppglayout.h>

#include "link.h"

namespace XSI {

PPGLayout::PPGLayout(const CRef& in_ref) : CBase(in_ref, in_ref.GetClassID() == siPPGLayoutID) {}

CStatus PPGLayout::Clear() {
    auto* prop = checked_as<PropertyObject>(m_ref);
    if (!prop || !IsValid()) return CStatus::Fail;
    prop->layout.clear();
    return CStatus::OK;
}

namespace {

LayoutEntry* entry_of(const CRef& ref) {
    auto* prop = checked_as<PropertyObject>(ref);
    return prop && ref.GetHandle().classID == siPPGItemID ? &prop->layout[ref.GetHandle().index] : nullptr;
}


PPGItem add_entry(const CRef& layout, LayoutEntry entry) {
    auto* prop = checked_as<PropertyObject>(layout);
    if (!prop || layout.GetHandle().classID != siPPGLayoutID) return PPGItem();
    prop->layout.push_back(std::move(entry));
    return PPGItem(sub_ref(layout, siPPGItemID, static_cast<std::uint32_t>(prop->layout.size() - 1)));
}

}  // namespace

PPGItem PPGLayout::AddGroup(const CString& in_label, bool in_border, LONG in_width) {
    LayoutEntry e;
    e.kind = LayoutEntry::Kind::group;
    e.label = in_label.str();
    e.border = in_border;
    e.width = in_width;
    return add_entry(m_ref, std::move(e));
}

PPGItem PPGLayout::AddItem(const CString& in_scriptName, const CString& in_label, const CString& in_controlType) {
    LayoutEntry e;
    e.kind = LayoutEntry::Kind::item;
    e.name = in_scriptName.str();
    e.label = in_label.str();
    e.control = in_controlType.str();
    return add_entry(m_ref, std::move(e));
}

PPGItem PPGLayout::EndGroup() {
    LayoutEntry e;
    e.kind = LayoutEntry::Kind::end_group;
    return add_entry(m_ref, std::move(e));
}

LONG PPGLayout::GetCount() const {
    auto* prop = checked_as<PropertyObject>(m_ref);
    return prop && IsValid() ? static_cast<LONG>(prop->layout.size()) : 0;
}

PPGItem PPGLayout::GetItem(LONG in_index) const {
    if (in_index < 0 || in_index >= GetCount()) return PPGItem();
    return PPGItem(sub_ref(m_ref, siPPGItemID, static_cast<std::uint32_t>(in_index)));
}

PPGItem::PPGItem(const CRef& in_ref) : CBase(in_ref, in_ref.GetClassID() == siPPGItemID) {}

CString PPGItem::GetName() const {
    auto* e = entry_of(m_ref);
    return e ? wide(e->name) : CString();
}
CString PPGItem::GetLabel() const {
    auto* e = entry_of(m_ref);
    return e ? wide(e->label) : CString();
}
CString PPGItem::GetType() const {
    auto* e = entry_of(m_ref);
    return e ? wide(e->control) : CString();
}
LONG PPGItem::GetLabelPercentage() const {
    auto* e = entry_of(m_ref);
    return e ? e->label_percentage : 0;
}
LONG PPGItem::GetLabelMinPixels() const {
    auto* e = entry_of(m_ref);
    return e ? e->label_min_pixels : 0;
}

CStatus PPGItem::PutLabelPercentage(LONG in_percent) {
    LayoutEntry* e = entry_of(m_ref);
    if (!e || e->kind != LayoutEntry::Kind::item || in_percent < 0 || in_percent > 100) return CStatus::Fail;
    e->label_percentage = in_percent;
    return CStatus::OK;
}

CStatus PPGItem::PutLabelMinPixels(LONG in_pixels) {
    LayoutEntry* e = entry_of(m_ref);
    if (!e || e->kind != LayoutEntry::Kind::item || in_pixels < 0) return CStatus::Fail;
    e->label_min_pixels = in_pixels;
    return CStatus::OK;
}

}  // namespace XSI
