#pragma once

#include "store/RecordingIndex.h"

#include <QString>

#include <optional>
#include <vector>

// The recordings folder as a whole: where recording folders are made, which
// are left over from a run that ended without removing them (a crash, a kill,
// a power cut), and their removal. Any thread.
namespace Recordings {

// $XDG_STATE_HOME/Quillo/recordings (default ~/.local/state/Quillo/recordings):
// state that must outlive the process but is no document of the user's.
QString root();

// The recordings under `root` that no running Quillo holds, newest first.
// A folder that cannot be read is listed with its problem, never removed.
std::vector<RecordingSummary> list(const QString &root);

// Removes a recording folder: the files Quillo writes there, then the folder.
// Refuses (with the reason) a folder that another running Quillo holds, or
// that holds files Quillo did not write, which are left in place.
std::optional<StoreError> remove(const QString &folder);

} // namespace Recordings
