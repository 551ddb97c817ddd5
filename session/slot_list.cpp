#include "session/slot_list.h"

#include <strings.h>

namespace {

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

}  // namespace

bool CSlotList::Add(const std::string& path) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (const auto& slot : m_slots) {
        if (slot && SameIgnoringCase(*slot, path)) return false;
    }
    for (auto& slot : m_slots) {
        if (!slot) {
            slot = path;
            return true;
        }
    }
    return false;
}

bool CSlotList::Remove(const std::string& path) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto& slot : m_slots) {
        if (slot && *slot == path) {
            slot.reset();
            return true;
        }
    }
    return false;
}

bool CSlotList::Contains(const std::string& path) const {
    std::lock_guard<std::mutex> guard(m_lock);
    for (const auto& slot : m_slots) {
        if (slot && SameIgnoringCase(*slot, path)) return true;
    }
    return false;
}

void CSlotList::SetAt(int index, const std::string& path) {
    if (index < 0 || index >= kSlots) return;
    std::lock_guard<std::mutex> guard(m_lock);
    m_slots[static_cast<size_t>(index)] = path;
}

void CSlotList::Clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto& slot : m_slots) slot.reset();
}

int CSlotList::Count() const {
    std::lock_guard<std::mutex> guard(m_lock);
    int n = 0;
    for (const auto& slot : m_slots) n += slot ? 1 : 0;
    return n;
}

void CSlotList::Rewind() {
    m_nCursor = -1;
    Next();
}

void CSlotList::Next() {
    std::lock_guard<std::mutex> guard(m_lock);
    int cursor = m_nCursor.load();
    if (cursor >= kSlots) return;  // already past the end; never beyond 512
    ++cursor;
    while (cursor < kSlots && !m_slots[static_cast<size_t>(cursor)]) ++cursor;
    m_nCursor = cursor;
}

const char* CSlotList::Current() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return AtLocked(m_nCursor.load());
}

std::string CSlotList::CurrentPath() const {
    std::lock_guard<std::mutex> guard(m_lock);
    const char* p = AtLocked(m_nCursor.load());
    return p ? std::string(p) : std::string();
}

const char* CSlotList::At(int index) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return AtLocked(index);
}

const char* CSlotList::AtLocked(int index) const {
    if (index < 0 || index >= kSlots) return nullptr;
    const auto& slot = m_slots[static_cast<size_t>(index)];
    return slot ? slot->c_str() : nullptr;
}
