#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

#include "model/ItemTable.h"
#include "text/StringTable.h"

namespace pmx {

// What an item is to the instrument. A setting is what the operator tunes; a live item
// changes by itself (a measured value, a hold value, an output state); a readonly item is
// the instrument's own (a status). Only settings are written and compared by default.
enum class ItemKind { Setting, Live, Readonly };

// What a profile says of one item; anything it leaves out is as without a profile.
struct ItemProfile {
    QString unit;
    std::optional<qint16> min;
    std::optional<qint16> max;
    ItemKind kind = ItemKind::Setting;
    QString note;   // English
    QString noteJa; // Japanese; the English note stands in when absent
};

// An instrument profile: per item a unit, a range, a kind and a note. Optional; a table
// without one behaves exactly as it always has.
struct InstrumentProfile {
    QString path; // where it was read from
    std::array<ItemProfile, kItemCount> items;

    bool isLive(int i) const { return inRange(i) && items[i].kind == ItemKind::Live; }
    bool isReadonly(int i) const { return inRange(i) && items[i].kind == ItemKind::Readonly; }
    // Live and readonly items are never sent by a write of all items or of differences.
    bool leftOutOfWrites(int i) const { return isLive(i) || isReadonly(i); }
    QString unit(int i) const { return inRange(i) ? items[i].unit : QString(); }
    QString note(int i, strings::Lang lang) const;
    // Whether `value` lies in the item's range (an item without one takes every value).
    bool inItemRange(int i, qint64 value) const;
    // "-1999 to 9999 °C", "from 0", "up to 8": the range and unit as the pad shows them;
    // empty when the profile gives neither.
    QString rangeText(int i, strings::Lang lang) const;
    // Why `value` cannot be stored in item i ("The value is above the maximum 8 of this
    // item."), in `lang`; empty when it can.
    QString refusal(int i, qint64 value, strings::Lang lang) const;
    // How many items are of `kind`.
    int count(ItemKind kind) const;

  private:
    static bool inRange(int i) { return i >= 0 && i < kItemCount; }
};

// Why a profile was refused: what was wrong, and on which line (0: the file as a whole).
enum class ProfileProblem {
    None,
    CannotOpen,
    TooLarge,
    NotUtf8,
    NotKeyValue,
    KeyOutsideSection,
    BadSection,
    SectionTwice,
    UnknownKey,
    KeyTwice,
    BadNumber,
    MinAboveMax,
    BadKind,
    TextTooLong,
};

struct ProfileLoadResult {
    std::optional<InstrumentProfile> profile; // set when the whole file was good
    ProfileProblem problem = ProfileProblem::None;
    int line = 0;   // 1-based; 0 for the file as a whole
    QString detail; // the key, section or value concerned
    QString path;

    bool ok() const { return profile.has_value(); }
    // "line 12: min 10 is above max 5"; for CannotOpen the system's reason.
    QString errorText(strings::Lang lang) const;
};

// The largest profile read: 128 items of a few lines each fit many times over.
inline constexpr qint64 kProfileMaxBytes = 256 * 1024;

// Reads a profile from its bytes: all or nothing. UTF-8 (a byte-order mark is skipped),
// lines "[0010]" (an item, 0000..007F, each once), "key=value" below one (unit, min, max,
// kind, note, note.ja, each once per item), blank lines and lines beginning with ";" or
// "#". Anything else refuses the whole file with its line.
ProfileLoadResult parseProfile(const QByteArray& bytes);
ProfileLoadResult loadProfile(const QString& path);

// Where the profile of a model is looked for, in this order: beside the model definition
// file (same base name, ".profile"), then "<model name>.profile" in each folder of
// `folders`. A model name that cannot be a file name (a path separator, a leading dot) is
// looked up beside the definition only.
QStringList profileCandidates(const QString& modelDefinitionPath, const QString& modelName,
                              const QStringList& folders);
// The folders searched by model name: the program's "profiles" folder, then the
// installed models folder.
QStringList profileFolders();
// The first candidate that exists; empty when there is none.
QString findProfile(const QString& modelDefinitionPath, const QString& modelName);

} // namespace pmx
