// minizip's file access through the machine layer: the archives are read and written through
// its file handles, so minizip sees Windows paths and an open archive is a file in use like
// any other. The "file name" minizip is given is the wide Windows path.
#pragma once

#include <ioapi.h>

namespace DataStorage {

// The functions for unzOpen2_64 and zipOpen2_64, with a wide Windows path as the file name.
zlib_filefunc64_def MachineFileFunctions();

}  // namespace DataStorage
