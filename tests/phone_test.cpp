// The zip's own phone build on phone trees: each tree gets the unpacked
// module, BusyBox for the manager's shell, stand-ins for Android's getprop and
// date, a packed tzdata and qemu-aarch64-static, and the module's service.sh
// runs as root in a chroot of it, so nothing reaches the host's /sys. Real
// time: the log line comes after the 10-second pause.
#include <signal.h>

#include <ctime>
#include <set>

#include "daemon.h"

namespace {

const fs::path kModule = "data/adb/modules/velmora";
constexpr char kPhoneDate[] = "2031-01-02 03:04";  // what the stand-in /system/bin/date says

void run(const std::string &command) {
    ASSERT_EQ(system(command.c_str()), 0) << command;
}

void put_script(const fs::path &path, const std::string &body) {
    put(path, "#!/bin/sh\n" + body);
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add);
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

// A phone whose manager has booted it, with the module from the zip and the
// time zone property set to zone, charging with the log on.
void lay_out_chroot_phone(const fs::path &root, const std::string &zone) {
    fs::create_directories(root / kModule);
    run("unzip -q " VELMORA_ZIP " -d " + (root / kModule).string());
    lay_out_phone(root);
    put(root / kSettingsFile, settings(1, 27, 22, 7, 40000, 38000));
    fs::create_directories(root / "dev");
    run("mknod -m 666 " + (root / "dev/null").string() + " c 1 3");
    // Without binfmt the shell starts the AArch64 binaries through qemu.
    fs::copy_file("/usr/bin/qemu-aarch64-static", root / "qemu-aarch64-static");
    for (const char *binary : {"velmora", "velmora-zone"}) {
        fs::rename(root / kModule / binary, root / kModule / (std::string(binary) + ".arm64"));
        put_script(root / kModule / binary, "exec /qemu-aarch64-static \"$0.arm64\" \"$@\"\n");
    }
    fs::create_directories(root / "bin");
    fs::copy_file("/bin/busybox", root / "bin/busybox");
    run("chroot " + root.string() + " /bin/busybox --install -s /bin");
    put_script(root / "system/bin/getprop",
               "case $1 in sys.boot_completed) echo 1 ;; "
               "persist.sys.timezone) echo '" +
                   zone + "' ;; esac\n");
    put_script(root / "system/bin/date",
               std::string("exec date -d '") + kPhoneDate + ":05' \"$@\"\n");
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
        {"Asia/Kolkata", "Asia/Kolkata", {}, ""},
        {"Australia/Sydney", "Australia/Sydney", {}, ""},
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
        // Battery 35.0 °C, board 36.000 °C, 39 °C target at night or 38 °C by day.
        EXPECT_TRUE(wait_until([&] {
            const std::string limit = slurp(node);
            return !limit.empty() && limit.back() == '\n' && mode_of(node) == 0444u;
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
