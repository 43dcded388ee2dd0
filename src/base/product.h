// The product's identity: its title, version and the names of its data folder and instance lock,
// and the texts shown when it cannot start. Constants, any thread.
#pragma once

inline constexpr const char* APP_TITLE = "ORN RAD-EZ Ududerud";
inline constexpr const char* APP_VERSION = "1.07.1";
inline constexpr const char* DATA_FOLDER_NAME = "ORN RAD-EZ Ududerud";
inline constexpr const char* INSTANCE_LOCK_NAME = "Quenor.exe.lock";
inline constexpr const char* MSG_ALREADY_RUNNING = "RAD-EZ Ududerud is already running?";
inline constexpr const char* MSG_NO_DATA_FOLDER = "Unable to create settings directory";
