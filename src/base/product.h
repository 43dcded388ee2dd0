// The product's identity: the title windows and message boxes carry, the version, and the names
// of the data folder and of its single-instance lock file. Any thread.
#pragma once

inline constexpr const char* APP_TITLE = "ORN RAD-EZ Ududerud";
inline constexpr const char* APP_VERSION = "1.07.1";
inline constexpr const char* DATA_FOLDER_NAME = "ORN RAD-EZ Ududerud";
inline constexpr const char* INSTANCE_LOCK_NAME = "Quenor.exe.lock";
