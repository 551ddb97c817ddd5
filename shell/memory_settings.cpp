#include "shell/memory_settings.h"

#include <cctype>

CMemorySettings::Key CMemorySettings::Fold(std::string_view section, std::string_view entry) {
    const auto lower = [](std::string_view text) {
        std::string folded(text);
        for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return folded;
    };
    return {lower(section), lower(entry)};
}

const CMemorySettings::Value* CMemorySettings::Find(std::string_view section,
                                                    std::string_view entry) const {
    const auto it = m_values.find(Fold(section, entry));
    return it == m_values.end() ? nullptr : &it->second;
}

int CMemorySettings::ReadInt(std::string_view section, std::string_view entry, int def) const {
    const Value* v = Find(section, entry);
    int value = def;
    if (!v || !settings::ParseInt(v->text, value)) return def;
    return value;
}

std::string CMemorySettings::ReadText(std::string_view section, std::string_view entry,
                                      std::string_view def) const {
    const Value* v = Find(section, entry);
    if (!v || v->text.size() > kMaxTextLength) return std::string(def);
    return v->text;
}

bool CMemorySettings::Has(std::string_view section, std::string_view entry) const {
    return Find(section, entry) != nullptr;
}

bool CMemorySettings::WriteInt(std::string_view section, std::string_view entry, int value) {
    return WriteText(section, entry, std::to_string(value));
}

bool CMemorySettings::WriteText(std::string_view section, std::string_view entry,
                                std::string_view value) {
    ++m_nWrites;
    m_values[Fold(section, entry)] = Value{std::string(entry), std::string(value)};
    return true;
}

bool CMemorySettings::Delete(std::string_view section, std::string_view entry) {
    ++m_nWrites;
    return m_values.erase(Fold(section, entry)) != 0;
}

std::string CMemorySettings::StoredName(std::string_view section, std::string_view entry) const {
    const Value* v = Find(section, entry);
    return v ? v->name : std::string();
}
