// The zip's own phone build on phone trees: each tree gets the unpacked
// module, BusyBox for the manager's shell (scripts/lay-out-phone), a packed
// tzdata and qemu-aarch64-static, and the module's service.sh
// runs as root in a chroot of it, so nothing reaches the host's /sys. Real
// time: the log line comes after the 10-second pause.
#include <signal.h>

#include <ctime>
#include <set>

#include "daemon.h"

namespace {

const fs::path kModule = "data/adb/modules/velmora";
constexpr char kPhoneDate[] = "2031-01-02 03:04";  // what the phone's /system/bin/date says

void run(const std::string &command) {
    ASSERT_EQ(system(command.c_str()), 0) << command;
}

// The local time of every second from..to in a zone of the host's tzdata.
std::set<std::string> local_times(const std::string &zone, time_t from, time_t to) {
    setenv("TZ", (":/usr/share/zoneinfo/" + zone).c_str(), 1);
    tzset();
    std::set<std::string> times;
    for (time_t t = from; t <= to; ++t) {
        struct tm broken;
        char text[32];
        strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", localtime_r(&t, &broken));
        times.insert(text);
    }
    unsetenv("TZ");
    tzset();
    return times;
}

// A booted phone in the root manager's BusyBox shell, charging with the log
// on, with the module from the zip and its time zone property set to zone.
void lay_out_chroot_phone(const fs::path &root, const std::string &zone) {
    run(VELMORA_SOURCE_DIR "/scripts/lay-out-phone " + root.string() + " Charging 1 busybox");
    put(root / "timezone", zone + "\n");
    // Battery at 39.0 °C, no board sensor and a 39 °C target at every hour (no
    // night window): drive 25 at power 27, 1833 x 27 x 25 uA in any zone.
    put(root / kBatteryTempNode, "390\n");
    fs::remove(root / kBoardTempNode);
    put(root / kSettingsFile, settings(1, 27, 22, 22, 40000, 39000));
    run("unzip -q -o " VELMORA_ZIP " -x 配置 -d " + (root / kModule).string());
    // Without binfmt the shell starts the AArch64 binaries through qemu.
    fs::copy_file("/usr/bin/qemu-aarch64-static", root / "qemu-aarch64-static");
    for (const char *binary : {"velmora", "velmora-zone"}) {
        fs::rename(root / kModule / binary, root / kModule / (std::string(binary) + ".arm64"));
        put(root / kModule / binary, "#!/bin/sh\nexec /qemu-aarch64-static \"$0.arm64\" \"$@\"\n");
        fs::permissions(root / kModule / binary, fs::perms::owner_exec, fs::perm_options::add);
    }
    put(root / "system/usr/share/zoneinfo/tzdata",
        packed_tzdata("tzdata2024a", {{"Asia/Kolkata", "Asia/Kolkata"},
                                      {"Australia/Sydney", "Australia/Sydney"}}));
}

TEST(PhoneBuild, IsStaticAarch64WithTheDevicesPaths) {
    const std::string zip_listing = "unzip -l " VELMORA_ZIP " velmora velmora-zone >/dev/null";
    run(zip_listing);
    const fs::path dir = fs::temp_directory_path() / "velmora-phone-build";
    run("unzip -q -o " VELMORA_ZIP " velmora -d " + dir.string());
    const std::string binary = slurp(dir / "velmora");
    fs::remove_all(dir);
    EXPECT_EQ(binary.substr(18, 2), std::string("\xb7\x00", 2));  // e_machine: EM_AARCH64
    // No program header asks for a dynamic loader (PT_INTERP).
    const auto le = [&](size_t at, size_t bytes) {
        uint64_t value = 0;
        while (bytes-- > 0) value = value << 8 | static_cast<unsigned char>(binary[at + bytes]);
        return value;
    };
    for (uint64_t i = 0, at = le(32, 8); i < le(56, 2); ++i, at += le(54, 2))
        EXPECT_NE(le(at, 4), 3u) << "program header " << i;
    EXPECT_NE(binary.find(std::string("\0/sys/class/power_supply/battery/status", 39)),
              std::string::npos);
}

// Three phones at once, each in its own zone: a half-hour offset, one in
// daylight saving for half the year, and one that no tzdata knows.
TEST(PhoneBuild, ServiceRunsItInThePhonesZone) {
    if (geteuid() != 0) GTEST_SKIP() << "chroot needs root";
    struct Phone {
        std::string zone, host_zone;
        fs::path root;
        std::string err;  // what velmora.err starts with
    } phones[] = {
        {"Asia/Kolkata", "Asia/Kolkata", {}, "2031-01-02 03:04:05 读取字符串失败: "},
        {"Australia/Sydney", "Australia/Sydney", {}, "2031-01-02 03:04:05 读取字符串失败: "},
        {"Mars/Olympus",
         "UTC",
         {},
         std::string(kPhoneDate) + ":05 velmora-zone: no rules for \"Mars/Olympus\""},
    };
    for (Phone &phone : phones) {
        char name[] = "/tmp/velmora-phone-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        phone.root = name;
        lay_out_chroot_phone(phone.root, phone.zone);
    }
    const time_t started = time(nullptr);
    for (Phone &phone : phones) {
        run("chroot " + phone.root.string() + " /bin/sh /" + (kModule / "service.sh").string() +
            " </dev/null >/dev/null 2>&1");
    }
    for (Phone &phone : phones) {
        SCOPED_TRACE(phone.zone);
        const fs::path module = phone.root / kModule;
        const fs::path node = phone.root / kOldChargeNode;
        EXPECT_TRUE(wait_until([&] {
            return slurp(node) == "1237275\n" && mode_of(node) == 0444u;
        })) << slurp(node);
        EXPECT_TRUE(wait_until([&] { return !slurp(module / "PID_log").empty(); }));
        const std::string stamp = slurp(module / "PID_log").substr(0, 19);
        EXPECT_EQ(local_times(phone.host_zone, started - 1, time(nullptr)).count(stamp), 1u)
            << stamp;
        EXPECT_NE(slurp(module / "module.prop")
                      .find(std::string("description=Running since ") + kPhoneDate + ":"),
                  std::string::npos);
        const std::string err = slurp(module / "velmora.err");
        EXPECT_EQ(err.substr(0, phone.err.size()), phone.err);

        kill(std::stoi(slurp(module / "velmora.pid")), SIGTERM);
        EXPECT_TRUE(wait_until([&] {
            return slurp(module / "module.prop")
                       .find(std::string("description=Stopped ") + kPhoneDate + ": ") !=
                   std::string::npos;
        })) << slurp(module / "module.prop");
        fs::remove_all(phone.root);
    }
}

}  // namespace
