#pragma once
// The storage thread of a recorder and the deletion of old recordings.
//
// Every day folder directly under <recordPath>/RecordFiles is a candidate; the
// earliest created goes first (ties broken by path). Deletion stays inside the
// tree: a symbolic link is removed as a link and never followed, plain files
// lying directly in RecordFiles are never touched, and a file that a recorder
// of this process is writing is skipped (so its folders stay too).

#include <cstdint>
#include <string>

#include "platform/disk.h"

namespace tavolen {

class CAviRecorder;

// Thread body started by startRecord: measures the free space every 5 s of
// the recorder's clock (a stop ends the wait at once) and cleans in cover
// mode.
void storageThreadMain(CAviRecorder& recorder);

// One cleaning pass over <recordPath>/RecordFiles: deletes the oldest day
// folder. Returns the folder chosen, or empty when there was none.
std::string deleteOldestDayFolder(const std::string& recordPath, platform::Disk& disk);

// Deletes folder and everything in it, depth first, without following links.
// Failures leave the entry in place. Does nothing when folder is not a real
// folder (a link to one included).
void deleteTree(const std::string& folder);

// Files being written by recorders of this process; deleteTree skips them.
void markFileInUse(const std::string& path);
void unmarkFileInUse(const std::string& path);

}  // namespace tavolen
