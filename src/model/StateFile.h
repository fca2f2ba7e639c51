#pragma once
#include <QList>
#include <QString>

#include "model/ItemTable.h"

namespace pmx {

// Loads "PMX31570A.ini" from dir into the table (modelName, names, selections, values).
// - The name must match exactly, letter case included, even on a file system that ignores
//   case: "pmx31570a.ini" is not loaded. A missing file is not an error: returns true,
//   *found false, table untouched.
// - A file that is cut short or holds a bad field loads up to that field; later fields
//   keep their values. Returns false with the reason in *error (field and line, in the
//   run's language). Whatever follows the 385 fields is ignored.
// *selectionsRead receives the indices whose selection was set, so the caller can mirror
// them into the selection dialog.
bool loadStateFile(const QString& dir, ItemTable& table, QList<int>* selectionsRead, QString* error,
                   bool* found = nullptr);

// Writes the table to dir/"PMX31570A.ini" through a temporary file, so a failure leaves
// the previous state file in place. Refuses (false, *error) names with a double quote.
bool saveStateFile(const QString& dir, const ItemTable& table, QString* error);

// Name of the copy kept of a state file that could not be loaded.
inline constexpr char kStateBackupName[] = "PMX31570A.ini.bak";

// Copies dir/"PMX31570A.ini" to dir/"PMX31570A.ini.bak", replacing an older copy, so that
// a state file that was not loaded survives the save that replaces it. True when the
// copy is in place or there is no state file; false with the reason in *error otherwise.
bool keepStateFileCopy(const QString& dir, QString* error);

} // namespace pmx
