#include "app/run_settings.h"

namespace {
std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}
}  // namespace

CRunSettings::Key CRunSettings::Fold(std::string_view section, std::string_view entry) {
    return {Lower(section), Lower(entry)};
}

const std::string* CRunSettings::Find(std::string_view section, std::string_view entry) const {
    const auto it = m_overrides.find(Fold(section, entry));
    return it == m_overrides.end() ? nullptr : &it->second;
}

void CRunSettings::SetOverride(std::string_view section, std::string_view entry, std::string text) {
    m_overrides[Fold(section, entry)] = std::move(text);
}

int CRunSettings::ReadInt(std::string_view section, std::string_view entry, int def) const {
    const std::string* text = Find(section, entry);
    if (!text) return m_base.ReadInt(section, entry, def);
    int value = def;
    return settings::ParseInt(*text, value) ? value : def;
}

std::string CRunSettings::ReadText(std::string_view section, std::string_view entry,
                                   std::string_view def) const {
    const std::string* text = Find(section, entry);
    return text ? *text : m_base.ReadText(section, entry, def);
}

bool CRunSettings::Has(std::string_view section, std::string_view entry) const {
    return Find(section, entry) || m_base.Has(section, entry);
}

bool CRunSettings::Echoes(std::string_view section, std::string_view entry, std::string_view text) {
    const auto it = m_overrides.find(Fold(section, entry));
    if (it == m_overrides.end()) return false;
    if (it->second == text) return true;
    m_overrides.erase(it);
    return false;
}

bool CRunSettings::WriteInt(std::string_view section, std::string_view entry, int value) {
    return Echoes(section, entry, std::to_string(value)) || m_base.WriteInt(section, entry, value);
}

bool CRunSettings::WriteText(std::string_view section, std::string_view entry,
                             std::string_view value) {
    return Echoes(section, entry, value) || m_base.WriteText(section, entry, value);
}

bool CRunSettings::Delete(std::string_view section, std::string_view entry) {
    m_overrides.erase(Fold(section, entry));
    return m_base.Delete(section, entry);
}
