// The phone's time zone: packed tzdata files, whole and damaged, and Java's
// GMT offsets.
#include "zone.h"

#include <cstdlib>
#include <ctime>

#include "phone.h"

namespace {

using Zone = InTree;

const std::string kName40(40, 'Z');  // fills its field: no NUL after it

// A copy of packed with the big-endian int32 at `at` replaced.
std::string with_int(std::string packed, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) packed[at + i] = static_cast<char>(value >> (24 - 8 * i));
    return packed;
}

std::string replace_first(std::string text, const std::string &from, const std::string &to) {
    return text.replace(text.find(from), from.size(), to);
}

TEST_F(Zone, FindZoneTable) {
    const std::string good =
        packed_tzdata("tzdata2024a", {{"Asia/Kolkata", "Asia/Kolkata"}, {kName40, "UTC"}});
    const struct {
        const char *name;
        std::string packed, zone;
        PackedError error;
    } cases[] = {
        {"40-byte name", good, kName40, PackedError::kNone},
        {"41-byte name", good, kName40 + "Z", PackedError::kNoZone},
        {"prefix of a name", good, "Asia/Kolk", PackedError::kNoZone},
        {"unknown zone", good, "Mars/Olympus", PackedError::kNoZone},
        {"truncated header", good.substr(0, 23), "Asia/Kolkata", PackedError::kTruncatedHeader},
        {"not tzdata", "zz" + good.substr(2), "Asia/Kolkata", PackedError::kNotTzdata},
        {"index past the end", with_int(good, 12, 0x7fffffff), kName40, PackedError::kIndexPastEnd},
        {"data past the end", with_int(good, 16, 0x7fffffff), kName40, PackedError::kIndexPastEnd},
        {"truncated rules", good.substr(0, good.size() - 1), kName40, PackedError::kBlobPastEnd},
        {"rules not TZif", "tzdata" + replace_first(good.substr(6), "TZif", "TZiX"), "Asia/Kolkata",
         PackedError::kNotTzif},
        {"rules cut short", with_int(good, 24 + 52 + 44, 45), kName40, PackedError::kTzifCut},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ZoneBlob blob;
        ASSERT_EQ(find_zone(c.packed, c.zone, &blob), c.error) << packed_error_text(c.error);
        if (c.error == PackedError::kNone) {
            EXPECT_EQ(c.packed.substr(blob.offset, blob.length),
                      slurp(c.zone == kName40 ? "/usr/share/zoneinfo/UTC"
                                              : "/usr/share/zoneinfo/" + c.zone));
        }
    }
}

TEST(GmtOffsetZone, FlipsTheSignOfJavasForm) {
    const std::pair<const char *, const char *> cases[] = {
        {"GMT+8", "GMT-8"}, {"GMT-5:30", "GMT+5:30"}, {"GMT+0", "GMT-0"},   {"GMT", ""},
        {"GMT+", ""},       {"GMT+8x", ""},           {"GMT+8;reboot", ""}, {"Asia/Shanghai", ""},
    };
    for (const auto &[property, zone] : cases)
        EXPECT_EQ(gmt_offset_zone(property), zone) << property;
}

// What the zone lookup writes and reports for a property, with the packed
// files present in the tree.
TEST_F(Zone, ResolveTable) {
    const std::string resolved = ":" + (root_ / kZoneFile).lexically_normal().string();
    const std::string kolkata = packed_tzdata("tzdata2023c", {{"Test/Zone", "Asia/Kolkata"}}),
                      berlin = packed_tzdata("tzdata2024a", {{"Test/Zone", "Europe/Berlin"}}),
                      other = packed_tzdata("tzdata2024a", {{"Other/Zone", "Europe/Berlin"}});
    const struct {
        const char *name;
        std::string system, apex;  // the packed files, "" for none
        std::string property;
        const char *rules_of;  // host zone whose rules land in the zone file; nullptr: none
        std::string report;
    } cases[] = {
        {"no property", "", "", "", nullptr,
         "the phone names no time zone (persist.sys.timezone is empty)"},
        {"no packed file", "", "", "Test/Zone", nullptr, "no packed tzdata file on this phone"},
        {"unknown zone and a damaged file", kolkata, "tzdata2024a", "Mars/\nOlympus", nullptr,
         "no rules for \"Mars/\\x0aOlympus\" (./system/usr/share/zoneinfo/tzdata: no such zone, "
         "./apex/com.android.tzdata/etc/tz/tzdata: truncated header)"},
        {"an older file has the zone the newest lacks", kolkata, other, "Test/Zone", "Asia/Kolkata",
         ""},
        {"newest version wins", kolkata, berlin, "Test/Zone", "Europe/Berlin", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        for (const char *dir : {"apex", "system", "data"}) fs::remove_all(dir);
        fs::create_directories(fs::path(kZoneFile).parent_path());
        if (!c.system.empty()) put(kPackedTzdataFiles[3], c.system);
        if (!c.apex.empty()) put(kPackedTzdataFiles[0], c.apex);
        std::string tz, why;
        EXPECT_EQ(resolve_zone(c.property, &tz, &why), c.rules_of != nullptr);
        EXPECT_EQ(why, c.report);
        EXPECT_EQ(tz, c.rules_of != nullptr ? resolved : "UTC0");
        EXPECT_EQ(slurp(kZoneFile), c.rules_of == nullptr
                                        ? ""
                                        : slurp(std::string("/usr/share/zoneinfo/") + c.rules_of));
    }
    // The last rules written, Berlin's, carry daylight saving: summer time
    // from 01:00 UTC on 2026-03-29, one second before and at the change.
    EXPECT_EQ(local_time(resolved, 1774745999), "2026-03-29 01:59:59");
    EXPECT_EQ(local_time(resolved, 1774746000), "2026-03-29 03:00:00");
}

}  // namespace
