#include "shell/linux/qt_settings.h"

#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

namespace {

QString ToQt(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A name matching `wanted` without regard to case; the exact spelling first.
QString Match(const QStringList& names, std::string_view wanted) {
    const QString exact = ToQt(wanted);
    if (names.contains(exact)) return exact;
    for (const QString& name : names) {
        if (name.compare(exact, Qt::CaseInsensitive) == 0) return name;
    }
    return {};
}

// A stored value as our text.
std::string StoredText(const QVariant& value) {
    // A hand-written value with unquoted commas reads as a list.
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QLatin1Char(',')).toStdString();
    }
    if (value.typeId() == QMetaType::QByteArray) return value.toByteArray().toStdString();
    return value.toString().toStdString();
}

// Texts that are not UTF-8 (a file name in another encoding, which Linux allows) are
// stored as their bytes: as a QString they would come back as other characters.
QVariant TextValue(const std::string& text) {
    const QString decoded = ToQt(text);
    if (decoded.toStdString() == text) return decoded;
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CQtSettings::CQtSettings() : CQtSettings(DefaultFilePath()) {}

CQtSettings::CQtSettings(const std::string& filePath)
    : m_settings(
          std::make_unique<QSettings>(QString::fromStdString(filePath), QSettings::IniFormat)) {}

CQtSettings::~CQtSettings() {
    m_settings->sync();
}

std::string CQtSettings::DefaultFilePath() {
    // Read each time, so that XDG_CONFIG_HOME set by a caller counts.
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return (base + QStringLiteral("/Cradlecourier/CCourier.conf")).toStdString();
}

std::string CQtSettings::FilePath() const {
    return m_settings->fileName().toStdString();
}

QString CQtSettings::FindGroup(std::string_view section) const {
    return Match(m_settings->childGroups(), section);
}

QString CQtSettings::FindKey(const QString& group, std::string_view entry) const {
    m_settings->beginGroup(group);
    const QString key = Match(m_settings->childKeys(), entry);
    m_settings->endGroup();
    return key;
}

QStringList CQtSettings::Groups(std::string_view section) const {
    // The exact spelling first, then the others in the file's order: an entry is read from
    // the first that has it, so an emptied spelling does not hide another.
    QStringList groups;
    const QString exact = ToQt(section);
    for (const QString& group : m_settings->childGroups()) {
        if (group == exact) {
            groups.prepend(group);
        } else if (group.compare(exact, Qt::CaseInsensitive) == 0) {
            groups.append(group);
        }
    }
    return groups;
}

bool CQtSettings::RawText(std::string_view section, std::string_view entry,
                          std::string& text) const {
    for (const QString& group : Groups(section)) {
        const QString key = FindKey(group, entry);
        if (key.isEmpty()) continue;
        text = StoredText(m_settings->value(group + QLatin1Char('/') + key));
        return true;
    }
    return false;
}

int CQtSettings::ReadInt(std::string_view section, std::string_view entry, int def) const {
    std::string text;
    int value = def;
    if (!RawText(section, entry, text) || !settings::ParseInt(text, value)) return def;
    return value;
}

std::string CQtSettings::ReadText(std::string_view section, std::string_view entry,
                                  std::string_view def) const {
    std::string text;
    if (!RawText(section, entry, text) || text.size() > kMaxTextLength) return std::string(def);
    return text;
}

bool CQtSettings::Has(std::string_view section, std::string_view entry) const {
    for (const QString& group : Groups(section)) {
        if (!FindKey(group, entry).isEmpty()) return true;
    }
    return false;
}

bool CQtSettings::Write(std::string_view section, std::string_view entry, const std::string& text,
                        bool asInt, int number) {
    QString group = FindGroup(section);
    if (group.isEmpty()) group = ToQt(section);
    const QString key = ToQt(entry);
    m_settings->beginGroup(group);
    const QStringList keys = m_settings->childKeys();
    // The same value under the same spelling: nothing to write (the window reads its port
    // box, and so writes its port, on every refresh).
    bool changed = !keys.contains(key) || StoredText(m_settings->value(key)) != text;
    for (const QString& other : keys) {
        if (other != key && other.compare(key, Qt::CaseInsensitive) == 0) {
            m_settings->remove(other);
            changed = true;
        }
    }
    if (changed) {
        if (asInt) {
            m_settings->setValue(key, number);
        } else {
            m_settings->setValue(key, TextValue(text));
        }
    }
    m_settings->endGroup();
    if (!changed) return true;
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

bool CQtSettings::WriteInt(std::string_view section, std::string_view entry, int value) {
    return Write(section, entry, std::to_string(value), true, value);
}

bool CQtSettings::WriteText(std::string_view section, std::string_view entry,
                            std::string_view value) {
    return Write(section, entry, std::string(value), false, 0);
}

bool CQtSettings::Delete(std::string_view section, std::string_view entry) {
    // From every spelling of the section: reads look in all of them.
    bool removed = false;
    for (const QString& group : Groups(section)) {
        m_settings->beginGroup(group);
        for (const QString& key : m_settings->childKeys()) {
            if (key.compare(ToQt(entry), Qt::CaseInsensitive) == 0) {
                m_settings->remove(key);
                removed = true;
            }
        }
        m_settings->endGroup();
    }
    if (removed) m_settings->sync();
    return removed;
}

bool CQtSettings::Flush() {
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}
