#include "zone.h"

#include <cstdlib>
#include <ctime>

#include "device_tree.h"

namespace {

using Zone = InTree;

const std::string kName40(40, 'Z');  // fills its field: no NUL after it

// A copy of packed with the big-endian int32 at `at` replaced.
std::string with_int(std::string packed, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) packed[at + i] = static_cast<char>(value >> (24 - 8 * i));
    return packed;
}

TEST_F(Zone, FindZoneTable) {
    const std::string good =
        packed_tzdata("tzdata2024a", {{"Asia/Kolkata", "Asia/Kolkata"}, {kName40, "UTC"}});
    const size_t second_entry = 24 + 52;
    const struct {
        const char *name;
        std::string packed;
        std::string zone;
        PackedError error;
    } cases[] = {
        {"first zone", good, "Asia/Kolkata", PackedError::kNone},
        {"40-byte name", good, kName40, PackedError::kNone},
        {"40-byte name, one byte short", good, kName40.substr(1), PackedError::kNoZone},
        {"41-byte name", good, kName40 + "Z", PackedError::kNoZone},
        {"prefix of a name", good, "Asia/Kolk", PackedError::kNoZone},
        {"unknown zone", good, "Mars/Olympus", PackedError::kNoZone},
        {"empty file", "", "Asia/Kolkata", PackedError::kTruncatedHeader},
        {"truncated header", good.substr(0, 23), "Asia/Kolkata", PackedError::kTruncatedHeader},
        {"not tzdata", "zz" + good.substr(2), "Asia/Kolkata", PackedError::kNotTzdata},
        {"index past the end", with_int(good, 12, 0x7fffffff), "Asia/Kolkata",
         PackedError::kIndexPastEnd},
        {"index inside the header", with_int(good, 12, 8), "Asia/Kolkata",
         PackedError::kIndexPastEnd},
        {"data past the end", with_int(good, 16, 0x7fffffff), "Asia/Kolkata",
         PackedError::kIndexPastEnd},
        {"negative start", with_int(good, second_entry + 40, 0xffffffff), kName40,
         PackedError::kBlobPastEnd},
        {"length past the end", with_int(good, second_entry + 44, 0x7fffffff), kName40,
         PackedError::kBlobPastEnd},
        {"truncated rules", good.substr(0, good.size() - 1), kName40, PackedError::kBlobPastEnd},
        {"rules not TZif", with_int(good, second_entry + 44, 3), kName40, PackedError::kNotTzif},
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

// Where the zone file is, and what velmora-zone prints and reports for a
// property, with the packed files present in the tree.
TEST_F(Zone, ResolveTable) {
    const std::string apex = kPackedTzdataFiles[0], system = kPackedTzdataFiles[3];
    const struct {
        const char *name;
        std::vector<std::pair<std::string, std::string>> files;  // path, packed
        std::string property;
        const char *rules_of;  // host zone whose rules land in the zone file; nullptr: none
        std::string tz;        // for a resolved file, ":" and its absolute path
        std::string report;
    } cases[] = {
        {"newest version wins",
         {{system, packed_tzdata("tzdata2023c", {{"Test/Zone", "Asia/Kolkata"}})},
          {apex, packed_tzdata("tzdata2024a", {{"Test/Zone", "Europe/Berlin"}})}},
         "Test/Zone",
         "Europe/Berlin",
         ":" + (root_ / kZoneFile).lexically_normal().string(),
         ""},
        {"an older file has the zone the newest lacks",
         {{system, packed_tzdata("tzdata2023c", {{"Test/Zone", "Asia/Kolkata"}})},
          {apex, packed_tzdata("tzdata2024a", {{"Other/Zone", "Europe/Berlin"}})}},
         "Test/Zone",
         "Asia/Kolkata",
         ":" + (root_ / kZoneFile).lexically_normal().string(),
         ""},
        {"GMT offset", {}, "GMT+8", nullptr, "GMT-8", ""},
        {"no property",
         {},
         "",
         nullptr,
         "UTC0",
         "velmora-zone: the phone names no time zone (persist.sys.timezone is empty); velmora "
         "runs on UTC\n"},
        {"no packed file",
         {},
         "Asia/Kolkata",
         nullptr,
         "UTC0",
         "velmora-zone: no packed tzdata file on this phone; velmora runs on UTC\n"},
        {"unknown zone and a damaged file",
         {{system, packed_tzdata("tzdata2023c", {{"Asia/Kolkata", "Asia/Kolkata"}})},
          {apex, "tzdata2024a"}},
         "Mars/Olympus",
         nullptr,
         "UTC0",
         "velmora-zone: no rules for \"Mars/Olympus\" (./system/usr/share/zoneinfo/tzdata: no such "
         "zone, ./apex/com.android.tzdata/etc/tz/tzdata: truncated header); velmora runs on UTC\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all("apex");
        fs::remove_all("system");
        fs::remove_all("data");
        fs::create_directories(fs::path(kZoneFile).parent_path());
        for (const auto &[path, packed] : c.files) put(path, packed);
        std::string tz;
        testing::internal::CaptureStderr();
        EXPECT_EQ(resolve_zone(c.property, &tz), c.report.empty());
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.report);
        EXPECT_EQ(tz, c.tz);
        EXPECT_EQ(fs::exists(kZoneFile), c.rules_of != nullptr);
        if (c.rules_of != nullptr) {
            EXPECT_EQ(slurp(kZoneFile), slurp(std::string("/usr/share/zoneinfo/") + c.rules_of));
        }
    }
}

// The zone file velmora-zone writes carries the daylight-saving rule: Berlin
// moves to summer time at 01:00 UTC on 2026-03-29 and back on 2026-10-25.
TEST_F(Zone, DaylightSavingFromTheResolvedFile) {
    fs::create_directories(fs::path(kZoneFile).parent_path());
    put(kPackedTzdataFiles[0], packed_tzdata("tzdata2024a", {{"Europe/Berlin", "Europe/Berlin"}}));
    std::string tz;
    ASSERT_TRUE(resolve_zone("Europe/Berlin", &tz));
    const char *old_tz = getenv("TZ");
    const std::string saved = old_tz != nullptr ? old_tz : "";
    setenv("TZ", tz.c_str(), 1);
    tzset();
    const std::pair<time_t, const char *> instants[] = {
        {1774745999, "2026-03-29 01:59:59"},  // 00:59:59 UTC, winter time
        {1774746000, "2026-03-29 03:00:00"},  // 01:00:00 UTC, summer time
        {1792889999, "2026-10-25 02:59:59"},  // 00:59:59 UTC, summer time
        {1792890000, "2026-10-25 02:00:00"},  // 01:00:00 UTC, winter time again
    };
    for (const auto &[instant, local] : instants) {
        struct tm broken;
        char text[32];
        strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", localtime_r(&instant, &broken));
        EXPECT_STREQ(text, local) << instant;
    }
    old_tz != nullptr ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
}

}  // namespace
