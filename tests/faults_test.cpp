// Faults a user meets, one table: a terminal that closes after Action, a full
// disk, a killed save, a clock set back, links, FIFOs and directories among the
// module's files; in a BusyBox chroot phone where a shell is involved.
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>

#include "base64.h"
#include "commands.h"
#include "phone.h"

namespace {

const std::string kModule = "/data/adb/modules/velmora",
                  kHelpers = VELMORA_SOURCE_DIR "/tests/helpers/";

// What the shell command prints.
std::string said(const std::string &command) {
    std::string out;
    FILE *pipe = popen(command.c_str(), "r");
    for (int c = fgetc(pipe); c != EOF; c = fgetc(pipe)) out += static_cast<char>(c);
    pclose(pipe);
    return out;
}
std::string in_chroot(const fs::path &phone, const std::string &command) {
    return said(kHelpers + "in-phone " + phone.string() + " '" + command + "' 2>&1 </dev/null");
}

// Whether every velmora in the chroot, and its supervisor, ends when asked.
bool ended(const fs::path &phone) {
    return wait_until([&] {
        for (const pid_t pid : in_phone(phone, true)) kill(pid, SIGTERM);
        return in_phone(phone, false).empty();
    });
}

TEST_F(Velmora, FaultsTable) {
    if (geteuid() != 0) GTEST_SKIP() << "chroot and mount need root";
    const fs::path module = root_ / kModule.substr(1);
    const std::string start = "timeout 9 sh " + kModule + "/start.sh",
                      save = VELMORA_CTL " save " +
                             base64_encode(settings(1, 27, 22, 7, 40000, 38000));
    const struct {
        const char *fault, *expected;  // what the row sees when all is well
        std::function<std::string(const fs::path &phone, const fs::path &dir)> run;
    } rows[] = {
        {"Action under a terminal that then closes (script): velmoras", "1",
         [](const fs::path &phone, const fs::path &) {
             said("script -qec \"" + kHelpers + "in-phone " + phone.string() + " 'sh " + kModule +
                  "/action.sh'\" /dev/null </dev/null");
             std::this_thread::sleep_for(std::chrono::seconds(1));
             return std::to_string(in_phone(phone, true).size());
         }},
        {"velmora.lock a FIFO; velmora.err a FIFO and velmora.pid a link out: started, ended, "
         "node, outside; velmora.lock a directory: Action",
         "velmora not started: velmora.lock is a FIFO, not a file\n1 1 3000000\n420 kept\n"
         "It stopped again: velmora not started: velmora.lock is a directory, not a file\n",
         [&](const fs::path &phone, const fs::path &dir) {
             mkfifo((dir / "velmora.lock").c_str(), 0600);
             std::string seen = in_chroot(phone, start);
             fs::remove(dir / "velmora.lock");
             mkfifo((dir / "velmora.err").c_str(), 0600);
             put(phone / "outside", "kept\n");
             fs::create_symlink("/outside", dir / "velmora.pid");
             in_chroot(phone, start);
             seen += std::to_string(wait_until([&] { return in_phone(phone, true).size() == 1; }));
             seen += " " + std::to_string(ended(phone)) + " ";
             seen += slurp(phone / kOldChargeNode);
             seen +=
                 std::to_string(mode_of(phone / kOldChargeNode)) + " " + slurp(phone / "outside");
             fs::remove(dir / "velmora.lock"), fs::create_directory(dir / "velmora.lock");
             return seen + in_chroot(phone, "sh " + kModule + "/action.sh | grep 'It stopped'");
         }},
        {"velmora's log and module.prop on a disk that fills and frees (x1000)",
         "1 id=velmora\ndescription=installed\n",  // and no line cut or glued
         [&](const fs::path &, const fs::path &) {
             log_on(), put(module / "module.prop", "id=velmora\ndescription=installed\n");
             said("cd " + module.string() + " && tar -cf /tmp/held.tar . && mount -t tmpfs -o " +
                  "size=64k x . && cd " + module.string() + " && tar -xf /tmp/held.tar");  // 64 KiB
             const pid_t velmora = start_velmora(root_, "2026-06-01 22:00:00", 1000);
             wait_for_lines(3), said("dd if=/dev/zero of=" + module.string() + "/filler 2>&1");
             std::string seen = std::to_string(ctl_describe("full").status) + " ";
             seen += slurp(module / "module.prop");
             std::this_thread::sleep_for(std::chrono::milliseconds(500));  // 50 cycles
             fs::remove(module / "filler");
             wait_for_lines(log().size() + 20);
             stop(velmora);
             for (const std::string &line : log())  // 19 fields, none a text with a comma
                 seen += std::count(line.begin(), line.end(), ',') == 18 ? "" : line;
             (void)umount2(module.c_str(), MNT_DETACH);
             return seen + (log().empty() ? "" : "unmounted?");
         }},
        {"a save killed, a save into a closed pipe, a keep and a zone: status, temporaries left",
         "0\n配置.alive3\n",
         [&](const fs::path &, const fs::path &) {
             const int held = open(kSaveLockFile, O_RDWR | O_CREAT, 0600),
                       living =
                           open((std::string(kSettingsFile) + ".alive3").c_str(), O_CREAT, 0600);
             flock(held, LOCK_EX), flock(living, LOCK_EX);  // a save waits; one is under way
             said("(" + save + " & sleep 0.3; kill -9 $!)");
             close(held);
             put(std::string(kChargerKeptFile) + ".dead01", "");  // as a killed keep and zone leave
             put(std::string(kTzFile) + ".dead02", "");
             const std::string status =
                 said("bash -c '" + save + " | true; echo ${PIPESTATUS[0]}'");
             put(kBootIdFile, "boot-2\n"), put(kOldChargeNode, "3000000\n");  // a new boot
             ctl_charger_keep(), ctl_zone("UTC");
             close(living);
             return status + said("ls -A " + module.string() + " | grep '[.]......$'");
         }},
        {"55 hours of log, then the clock set back: rows; series 999999; a linked log",
         "10 since=0 velmoractl: cannot empty ./data/adb/modules/velmora/PID_log: a symbolic "
         "link\n",
         [&](const fs::path &, const fs::path &) {
             said("node " + kHelpers + "sample-log.mjs 20000 >" + kLogFile + " && node " +
                  kHelpers + "sample-log.mjs 10 >>" + kLogFile);
             const std::string day = ctl_series(24, -1, -1, -1).out,
                               all = ctl_series(999999, -1, -1, -1).out;
             fs::rename(kLogFile, "outside"), fs::create_symlink(root_ / "outside", kLogFile);
             const std::string cleared = ctl_clear_log().err;
             return std::to_string(std::count(day.begin(), day.end(), '\n') - 2) + " " +
                    all.substr(all.find("since="), 7) + " " + cleared +
                    (fs::file_size("outside") > 0 ? "" : "emptied");
         }},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.fault);
        char name[] = "/tmp/velmora-faults-XXXXXX";
        const fs::path phone = mkdtemp(name), dir = phone / kModule.substr(1);
        lay_out_host_chroot_phone(phone);
        EXPECT_EQ(row.run(phone, dir), row.expected);
        EXPECT_TRUE(ended(phone));
        fs::remove_all(phone);
    }
}

}  // namespace
