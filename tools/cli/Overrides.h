#pragma once
// The communication conditions given on the command line: checked against the choices
// the conditions dialog offers and laid over the stored conditions for one run.
#include "CliArgs.h"
#include "comm/SettingsStore.h"

#include <QMap>
#include <QSet>

namespace pmx::cli {

// The dialog's choices as the command line spells them ("7" for the entry "7 bit").
struct Choices {
    QStringList protocols, rates, dataBits, stopBits, parities;
    int firstInstrument, lastInstrument; // instrument numbers
    int minTimeoutMs, maxTimeoutMs;      // any whole number between them is taken
};
const Choices& choices();

// "A, B or C" ("A、B、C" in Japanese); entries with a blank are quoted.
QString oneOf(const QStringList& entries);
// "A|B|C"; entries with a blank are quoted.
QString alternatives(const QStringList& entries);

// Settings with the command line's overrides on top; writes stay in memory so that a
// run never changes the stored conditions.
class OverlayStore : public SettingsStore {
  public:
    explicit OverlayStore(SettingsStore& base) : m_base(base) {}
    QString value(const QString& section, const QString& key,
                  const QString& fallback) const override;
    void setValue(const QString& section, const QString& key, const QString& text) override;
    bool contains(const QString& section, const QString& key) const override;
    // Hides the key for this run; the stored settings keep it.
    void remove(const QString& section, const QString& key) override;

  private:
    SettingsStore& m_base;
    QMap<QString, QString> m_values;
    QSet<QString> m_removed;
};

// Turns the overrides into the stored texts the program itself would have. --port takes a
// COMn name (through the port map) or a device path, which COM1 is mapped to for this run.
bool applyOverrides(const Args& args, OverlayStore& store, QString* error);

} // namespace pmx::cli
