// The settings file as velmora reads it, through velmora's own reader: its
// verdict, the entry and byte where the reader stops, the values it read and
// those it would find after the stop, and the version of the bytes read;
// shared by check, settings, save and status.
#pragma once

#include <cstdint>
#include <string>

#include "settings.h"
#include "state.h"

// Larger settings files are refused: no settings file needs more.
constexpr int64_t kMaxSettings_bytes = 64 << 10;

// The version token of a settings file that cannot be read.
constexpr char kNoToken[] = "none";

// What velmora makes of a settings file, and how much of it it read.
struct SettingsVerdict {
    std::string usage;       // not "": a directory, not a regular file or over 64 KiB, never read
    bool opened = false;     // false: the text is kMsgSettingsUnopened, ": ..."
    int whole = 0;           // entries read whole, 8 when velmora would run
    int64_t stop_byte = -1;  // where the reader stopped; after the eighth entry when whole
    std::string text;        // "ok", or the message velmora would stop with and where
};

// The file's verdict and values: those velmora reads, then any later entry
// found at the start of a line after the stop; found[i] tells which.
struct SettingsRead {
    SettingsVerdict verdict;
    ControllerState values;
    bool found[kSettingsCount] = {};
    std::string notes;             // the bytes after the eighth entry
    std::string token = kNoToken;  // settings_token of the bytes read
};
SettingsRead read_settings_file(const char *path);
// The version of a settings file's bytes that a save may name, to replace
// only those: their length and 64-bit FNV-1a hash, "103-6c62272e07bb0142".
// "none" stands for a file that cannot be read.
std::string settings_token(const std::string &bytes);
// Whether token is one settings_token could have written, or kNoToken.
bool token_shaped(const std::string &token);
// Entry i's value as text ("" when not found).
std::string setting_text(const SettingsRead &read, int i);
// The settings=, settings_entry= and settings_byte= lines.
std::string verdict_lines(const SettingsVerdict &verdict);
