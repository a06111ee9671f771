// velmoractl zone: the phone's time zone, looked up in Android's packed
// tzdata and copied beside the module for velmora's TZ.
#include "zone.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "commands.h"
#include "files.h"
#include "module_files.h"
#include "nodes.h"

namespace {

// Header: 12 bytes of NUL-terminated version, then big-endian int32 offsets
// of the index, the data and a third table that velmora does not use.
constexpr size_t kVersionSize = 12;
constexpr size_t kIndexOffsetAt = 12;
constexpr size_t kDataOffsetAt = 16;
constexpr size_t kHeaderSize = 24;
// Index entry: a NUL-padded 40-byte name, then big-endian int32 start
// (relative to the data offset), length and an unused field.
constexpr size_t kNameSize = 40;
constexpr size_t kEntrySize = 52;
constexpr char kUtc[] = "UTC0";
// Larger than any packed tzdata file Android has shipped (about 0.5 MB).
constexpr size_t kMaxPacked_bytes = 16 << 20;

int64_t be32(const std::string &bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return static_cast<int32_t>(value);
}

// A TZif file's version-1 header: "TZif", a version byte, 15 reserved bytes,
// then six big-endian counts: isutcnt, isstdcnt, leapcnt, timecnt, typecnt, charcnt.
constexpr size_t kTzifHeaderSize = 44;
constexpr size_t kTzifCountsAt = 20;

// Whether the version-1 data block that the header's counts announce fits in
// the blob: a cut file would leave the C library silently on UTC.
bool tzif_counts_fit(const std::string &packed, size_t start, size_t length) {
    if (length < kTzifHeaderSize) return false;
    int64_t counts[6];
    for (size_t i = 0; i < 6; ++i) {
        counts[i] = static_cast<uint32_t>(be32(packed, start + kTzifCountsAt + 4 * i));
    }
    const auto [isut, isstd, leap, time, type, chars] = counts;
    // Transition times (4 bytes) and their type indices, 6-byte types, the
    // abbreviations, 8-byte leap-second records and one byte per indicator.
    const int64_t data = time * 5 + type * 6 + chars + leap * 8 + isstd + isut;
    return data <= static_cast<int64_t>(length - kTzifHeaderSize);
}

}  // namespace

const char *packed_error_text(PackedError error) {
    switch (error) {
        case PackedError::kNone:
            return "no error";
        case PackedError::kTruncatedHeader:
            return "truncated header";
        case PackedError::kNotTzdata:
            return "not a packed tzdata file";
        case PackedError::kIndexPastEnd:
            return "index past the end";
        case PackedError::kNoZone:
            return "no such zone";
        case PackedError::kBlobPastEnd:
            return "zone's rules past the end";
        case PackedError::kNotTzif:
            return "zone's rules are not TZif";
        case PackedError::kTzifCut:
            return "zone's rules are cut short";
    }
    return "unknown error";
}

std::string tzdata_version(const std::string &packed) {
    if (packed.size() < kHeaderSize || packed.compare(0, 6, "tzdata") != 0 ||
        packed[kVersionSize - 1] != '\0')
        return "";
    return packed.substr(0, strnlen(packed.data(), kVersionSize));
}

PackedError find_zone(const std::string &packed, const std::string &zone, ZoneBlob *blob) {
    if (packed.size() < kHeaderSize) return PackedError::kTruncatedHeader;
    if (tzdata_version(packed).empty()) return PackedError::kNotTzdata;
    const int64_t size = static_cast<int64_t>(packed.size());
    const int64_t index = be32(packed, kIndexOffsetAt);
    const int64_t data = be32(packed, kDataOffsetAt);
    if (index < static_cast<int64_t>(kHeaderSize) || data < index || data > size)
        return PackedError::kIndexPastEnd;
    for (int64_t at = index; at + static_cast<int64_t>(kEntrySize) <= data; at += kEntrySize) {
        const char *name = packed.data() + at;
        if (zone.size() != strnlen(name, kNameSize) ||
            zone.compare(0, zone.size(), name, zone.size()))
            continue;
        const int64_t start = data + be32(packed, at + kNameSize);
        const int64_t length = be32(packed, at + kNameSize + 4);
        if (start < data || length < 0 || start + length > size) return PackedError::kBlobPastEnd;
        if (length < 4 || packed.compare(start, 4, "TZif") != 0) return PackedError::kNotTzif;
        if (!tzif_counts_fit(packed, static_cast<size_t>(start), static_cast<size_t>(length)))
            return PackedError::kTzifCut;
        blob->offset = static_cast<size_t>(start);
        blob->length = static_cast<size_t>(length);
        return PackedError::kNone;
    }
    return PackedError::kNoZone;
}

std::string gmt_offset_zone(const std::string &property) {
    if (property.size() < 5 || property.size() > 12 || property.compare(0, 3, "GMT") != 0 ||
        (property[3] != '+' && property[3] != '-') ||
        property.find_first_not_of("0123456789:", 4) != std::string::npos)
        return "";
    std::string zone = property;
    zone[3] = property[3] == '+' ? '-' : '+';
    return zone;
}

bool resolve_zone(const std::string &property, std::string *tz, std::string *why) {
    *tz = kUtc;
    if (property.empty()) {
        *why = "the phone names no time zone (persist.sys.timezone is empty)";
        return false;
    }
    const std::string gmt = gmt_offset_zone(property);
    if (!gmt.empty()) {
        *tz = gmt;
        return true;
    }

    struct Packed {
        std::string version;
        const char *path;
        std::string bytes;
    };
    std::vector<Packed> found;
    for (const char *path : kPackedTzdataFiles) {
        Packed packed{"", path, ""};
        if (read_head(path, kMaxPacked_bytes, &packed.bytes, true)) {  // Android's, maybe linked
            packed.version = tzdata_version(packed.bytes);
            found.push_back(std::move(packed));
        }
    }
    if (found.empty()) {
        *why = "no packed tzdata file on this phone";
        return false;
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const Packed &a, const Packed &b) { return a.version > b.version; });
    std::string reasons;
    for (const Packed &packed : found) {
        ZoneBlob blob;
        const PackedError error = find_zone(packed.bytes, property, &blob);
        if (error == PackedError::kNone) {
            if (!write_atomically(kZoneFile, packed.bytes.substr(blob.offset, blob.length))) {
                *why = std::string("cannot write ") + kZoneFile + ": " + strerror(errno);
                return false;
            }
            char absolute[PATH_MAX];
            if (realpath(kZoneFile, absolute) == nullptr) {
                *why = std::string("cannot find ") + kZoneFile + ": " + strerror(errno);
                return false;
            }
            *tz = std::string(":") + absolute;
            return true;
        }
        reasons += std::string(reasons.empty() ? "" : ", ") + packed.path + ": " +
                   packed_error_text(error);
    }
    *why = "no rules for \"" + printable(property) + "\" (" + reasons + ")";
    return false;
}

CtlOutput ctl_zone(const std::string &property) {
    std::string tz, why;
    CtlOutput output;
    if (!resolve_zone(property, &tz, &why)) {
        output.status = 1;
        output.err = error_line(why + "; velmora runs on UTC");
    }
    output.out = tz + "\n";
    if (!write_atomically(kTzFile, tz + "\n")) {
        output.status = 1;
        output.err += error_line(std::string("cannot write ") + kTzFile + ": " + strerror(errno));
    }
    return output;
}
