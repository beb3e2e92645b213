// The names of the host application's files, each defined once, for the start-up
// check of the program (app/) and the repair procedure alike. A path is a folder and
// one of these joined by services::JoinPath (plain concatenation with the separator).
#pragma once

namespace repair {

// In the database folder that the settings file names: the host application's database.
inline constexpr char kDatabaseFileName[] = "morvik.mdb";
// In the program folder: the settings file, the backup and the compaction's scratch file.
inline constexpr char kSettingsFileName[] = "morvik.ini";
inline constexpr char kBackupFileName[] = "morvikbackup.mdb";
inline constexpr char kScratchFileName[] = "new.mdb";

}  // namespace repair
