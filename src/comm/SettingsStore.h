#pragma once
#include <QHash>
#include <QString>
#include <QStringList>
#include <memory>

class QSettings;

namespace pmx {

// The per-user store of text values, addressed by section and key (the application name
// is fixed: "KORVAN DELTRIS"). Reads never fail: a missing key gives the default.
class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    virtual QString value(const QString& section, const QString& key,
                          const QString& defaultValue) const = 0;
    virtual void setValue(const QString& section, const QString& key, const QString& value) = 0;
    virtual bool contains(const QString& section, const QString& key) const = 0;
    virtual void remove(const QString& section, const QString& key) = 0;
};

// The real store: QSettings with organisation "KORVAN DELTRIS" and no application name,
// so on Linux it is the file $XDG_CONFIG_HOME/KORVAN DELTRIS.conf. Every write is synced
// at once, since the command-line front end may run without an event loop.
class QSettingsStore : public SettingsStore {
  public:
    QSettingsStore();
    // A store in an explicit INI file (tests, portable installs).
    explicit QSettingsStore(const QString& iniFile);
    ~QSettingsStore() override;

    QString value(const QString& section, const QString& key,
                  const QString& defaultValue) const override;
    void setValue(const QString& section, const QString& key, const QString& value) override;
    bool contains(const QString& section, const QString& key) const override;
    void remove(const QString& section, const QString& key) override;

    QString fileName() const;

  private:
    std::unique_ptr<QSettings> m_settings;
};

// An in-memory store for tests; counts writes so a test can tell that nothing was written.
class MemorySettingsStore : public SettingsStore {
  public:
    QString value(const QString& section, const QString& key,
                  const QString& defaultValue) const override;
    void setValue(const QString& section, const QString& key, const QString& value) override;
    bool contains(const QString& section, const QString& key) const override;
    void remove(const QString& section, const QString& key) override;

    int writeCount() const { return m_writes; }
    void clear() { m_values.clear(); }

  private:
    QHash<QString, QString> m_values;
    int m_writes = 0;
};

inline constexpr char kSettingsOrganisation[] = "KORVAN DELTRIS";

} // namespace pmx
