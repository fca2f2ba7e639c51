#pragma once
// The instrument profile on the command line.
#include "CliArgs.h"
#include "model/InstrumentProfile.h"

#include <optional>

namespace pmx::cli {

class OverlayStore;

// The profile of a run: --profile FILE, none with --no-profile, else the one found for the
// table's model. False after printing why when the file is refused: a broken profile is
// never used in part, and the run does not start.
bool runProfile(const Args& args, const ItemTable& table, std::optional<InstrumentProfile>* out);

// `profile check [FILE]`: what the profile would do, one line per item it describes.
int cmdProfile(const Args& args);
// `watch`: reads the selected live items every --interval MS and prints one line per round.
int cmdWatch(const Args& args, OverlayStore& store);

} // namespace pmx::cli
