// The zip's own phone build on phone trees: each tree gets BusyBox for the
// manager's shell (tests/helpers/lay-out-phone), the unpacked module started through
// qemu-aarch64-static (tests/helpers/unpack-module) and a packed tzdata, and the
// module's service.sh runs as root in a chroot of it, so nothing reaches the
// host's /sys. Real time: the log line comes after the 10-second pause.
#include "phone.h"

#include <signal.h>

#include <ctime>

namespace {

const fs::path kModule = "data/adb/modules/velmora";

void run(const std::string &command) {
    ASSERT_EQ(system(command.c_str()), 0) << command;
}

// A booted phone in the root manager's BusyBox shell, charging with the log
// on, with the module from the zip and its time zone property set to zone.
void lay_out_zoned_phone(const fs::path &root, const std::string &zone) {
    lay_out_chroot_phone(root, 1);
    put(root / "timezone", zone + "\n");
    // Battery at 39.0 °C, no board sensor and a 39 °C target at every hour (no
    // night window): drive 25 at power 27, 1833 x 27 x 25 uA in any zone.
    put(root / kBatteryTempNode, "390\n");
    fs::remove(root / kBoardTempNode);
    put(root / kSettingsFile, settings(1, 27, 22, 22, 40000, 39000));
    // The zip's velmora: static AArch64, with the device's own paths.
    const std::string velmora = (root / kModule / "velmora.arm64").string();
    run("file -b " + velmora + " | grep -q 'ARM aarch64.*, statically linked'");
    run("strings " + velmora + " | grep -qx /sys/class/power_supply/battery/status");
    put(root / "system/usr/share/zoneinfo/tzdata",
        packed_tzdata("tzdata2024a", {{"Asia/Kolkata", "Asia/Kolkata"},
                                      {"Australia/Sydney", "Australia/Sydney"}}));
}

// Three phones at once, each in its own zone: a half-hour offset, one in
// daylight saving for half the year, and one that no tzdata knows; one's
// charge node shows no limit at boot, and gets velmora's highest at the stop.
TEST(PhoneBuild, ServiceRunsItInThePhonesZone) {
    if (geteuid() != 0) GTEST_SKIP() << "chroot needs root";
    struct Phone {
        std::string zone, host_zone, report;  // the report in velmora.err
        // The charge node at boot and after the stop, and what velmora.err says of it.
        std::string at_boot = "3000000\n", stopped = "3000000\n",
                    restored = "put back to 3000000 uA, mode 0644";
        fs::path root = {};
    } phones[] = {
        {"Asia/Kolkata", "Asia/Kolkata", "", "-22\n", "2147483647\n",
         "set to 2147483647 uA (velmora's highest limit: the kernel showed no limit at boot, "
         "\"-22\"), mode 0644"},
        {"Australia/Sydney", "Australia/Sydney", ""},
        {"Mars/Olympus", "UTC", "03:04:05 velmoractl: no rules for \"Mars/Olympus\""},
    };
    for (Phone &phone : phones) {
        char name[] = "/tmp/velmora-phone-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        phone.root = name;
        lay_out_zoned_phone(phone.root, phone.zone);
        put(phone.root / kOldChargeNode, phone.at_boot);
    }
    const time_t started = time(nullptr);
    for (Phone &phone : phones) {
        run(VELMORA_SOURCE_DIR "/tests/helpers/in-phone " + phone.root.string() + " 'sh /" +
            (kModule / "service.sh").string() + "' </dev/null >/dev/null 2>&1");
    }
    for (Phone &phone : phones) {
        SCOPED_TRACE(phone.zone);
        const fs::path module = phone.root / kModule, node = phone.root / kOldChargeNode;
        EXPECT_TRUE(wait_until([&] {
            return slurp(node) == "1237275\n" && mode_of(node) == 0444u;
        })) << slurp(node);
        EXPECT_TRUE(wait_until([&] { return !slurp(module / "PID_log").empty(); }));
        // The stamp is the cycle's start: local time between the start and now.
        const std::string stamp = slurp(module / "PID_log").substr(0, 19),
                          host_zone = ":/usr/share/zoneinfo/" + phone.host_zone;
        EXPECT_LE(local_time(host_zone, started - 1), stamp);
        EXPECT_GE(local_time(host_zone, time(nullptr)), stamp);
        EXPECT_NE(slurp(module / "velmora.err").find(phone.report), std::string::npos);
        kill(std::stoi(slurp(module / "velmora.pid")), SIGTERM);
        // The supervisor's last word, before the tree goes.
        EXPECT_TRUE(wait_until(
            [&] { return slurp(module / "module.prop").find("/ Stopped ") != std::string::npos; }));
        EXPECT_EQ(slurp(node), phone.stopped);
        EXPECT_EQ(mode_of(node), 0644u);
        EXPECT_NE(slurp(module / "velmora.err").find(" velmoractl: charge node " + phone.restored),
                  std::string::npos);
        fs::remove_all(phone.root);
    }
}

}  // namespace
