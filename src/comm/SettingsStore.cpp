#include "comm/SettingsStore.h"

#include <QSettings>

namespace pmx {

namespace {
QString fullKey(const QString& section, const QString& key) {
    return section + u'/' + key;
}
} // namespace

QSettingsStore::QSettingsStore()
    : m_settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                             QString::fromLatin1(kSettingsOrganisation),
                                             QString())) {}

QSettingsStore::QSettingsStore(const QString& iniFile)
    : m_settings(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)) {}

QSettingsStore::~QSettingsStore() = default;

QString QSettingsStore::value(const QString& section, const QString& key,
                              const QString& defaultValue) const {
    const QVariant v = m_settings->value(fullKey(section, key));
    if (!v.isValid())
        return defaultValue;
    // A hand-edited INI value with an unquoted comma reads back as a list; keep it a text.
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(u',');
    return v.toString();
}

void QSettingsStore::setValue(const QString& section, const QString& key, const QString& value) {
    m_settings->setValue(fullKey(section, key), value);
    m_settings->sync();
}

bool QSettingsStore::contains(const QString& section, const QString& key) const {
    return m_settings->contains(fullKey(section, key));
}

void QSettingsStore::remove(const QString& section, const QString& key) {
    m_settings->remove(fullKey(section, key));
    m_settings->sync();
}

QString QSettingsStore::fileName() const {
    return m_settings->fileName();
}

QString MemorySettingsStore::value(const QString& section, const QString& key,
                                   const QString& defaultValue) const {
    return m_values.value(fullKey(section, key), defaultValue);
}

void MemorySettingsStore::setValue(const QString& section, const QString& key,
                                   const QString& value) {
    m_values.insert(fullKey(section, key), value);
    ++m_writes;
}

bool MemorySettingsStore::contains(const QString& section, const QString& key) const {
    return m_values.contains(fullKey(section, key));
}

void MemorySettingsStore::remove(const QString& section, const QString& key) {
    if (m_values.remove(fullKey(section, key)) > 0)
        ++m_writes;
}

} // namespace pmx
