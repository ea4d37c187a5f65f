// The temporary folder of one run of the installer below the user's TEMP, and the removal of
// those that runs killed on the way left behind.
//
// A run's folder is "<base>-<8 hex digits>", made anew by the run. Beside it lies its note,
// "<folder>.run", which names the folder and the process that made it (its id and start). The
// note is written before the folder is made and removed only after the folder is gone, so a run
// stopped at any moment never leaves a folder without its note. A later run removes the folder
// of a note whose process has ended, and only that: a folder without a note, a note that names
// another folder or is no note of ours, a process that still runs, and a link (or a file) in
// the folder's place are all left as they are; a link inside the folder goes as the link.
#pragma once

#include <cstddef>
#include <string>

namespace DataStorage {

// The note's name beside a run's folder.
std::wstring RunFolderNote(const std::wstring& folder);

// Makes a new run folder "<base>-<8 hex digits>" in `temp`, with its note; empty when no folder
// can be made. `noted` says whether the note could be written (a folder is made without one
// rather than not at all).
std::wstring MakeRunFolder(const std::wstring& temp, const std::wstring& base, bool& noted);

// The note of a run folder that is gone; when the folder is still there (a file in use waits
// for the next start), the note goes at that start after it.
void ReleaseRunFolder(const std::wstring& folder);

// Removes the run folders in `temp` (and their notes) whose process has ended; looks at no more
// than `maxNotes` notes. Returns how many folders went.
std::size_t RemoveEndedRunFolders(const std::wstring& temp, std::size_t maxNotes = 256);

}  // namespace DataStorage
