// The phone's time zone for a velmora built without Android's C library, which
// finds no zone on Android by itself. `velmoractl zone` resolves it once,
// before velmora starts: the zone Android names is looked up in Android's
// packed tzdata, its TZif rules are copied next to the module, and velmora is
// handed TZ=:<that file>, which the C library reads once at the first time stamp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Where one zone's TZif file lies in a packed tzdata file, in bytes from its start.
struct ZoneBlob {
    size_t offset = 0;
    size_t length = 0;
};

// What is wrong with a packed tzdata file, or with the zone asked of it.
enum class PackedError {
    kNone,
    kTruncatedHeader,  // shorter than the 24-byte header
    kNotTzdata,        // the version is not "tzdata..." and NUL-terminated
    kIndexPastEnd,     // the index or the data offset lies outside the file
    kNoZone,           // the index does not name the zone
    kBlobPastEnd,      // the zone's entry points outside the file
    kNotTzif,          // the zone's entry does not start with "TZif"
    kTzifCut,          // its header's counts announce more data than the entry holds
};

// The text a report gives for error ("index past the end", ...).
const char *packed_error_text(PackedError error);

// The header's version, such as "tzdata2024a"; "" when packed is no tzdata file.
std::string tzdata_version(const std::string &packed);

// Finds zone's TZif file in packed. Aliases share entries; names are matched
// whole, and a 40-byte name (no NUL in its field) is matched in full.
PackedError find_zone(const std::string &packed, const std::string &zone, ZoneBlob *blob);

// The POSIX TZ text for a property of the form GMT+x or GMT-x, whose sign is
// Java's (GMT+8 is 8 hours east) and so flipped for POSIX, as Android's C
// library does; "" for any other property.
std::string gmt_offset_zone(const std::string &property);

// Resolves the zone that persist.sys.timezone names into the TZ value velmora
// runs with: ":<absolute path>" of the zone's rules, copied from the newest
// packed tzdata (by version) that holds the zone, or a GMT offset. When there
// is none, gives "UTC0" and why (one line, control bytes escaped): false.
bool resolve_zone(const std::string &property, std::string *tz, std::string *why);
