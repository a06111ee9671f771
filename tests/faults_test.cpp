// Faults a user meets that no regulation test shows, one table: a terminal
// that closes after Action, a full disk, a killed save, a clock set back, and
// links, FIFOs or directories in place of the module's files. Each row gets a
// BusyBox chroot phone with the module's scripts and the host's velmora and
// velmoractl (a row without a shell uses the test's own tree).
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>

#include "base64.h"
#include "commands.h"
#include "log_line.h"
#include "phone.h"

namespace {

const std::string kModule = "/data/adb/modules/velmora";

// What the shell command prints; its exit status in *status.
std::string said(const std::string &command, int *status = nullptr) {
    std::string out;
    FILE *pipe = popen(command.c_str(), "r");
    for (int c = fgetc(pipe); c != EOF; c = fgetc(pipe)) out += static_cast<char>(c);
    const int ended = pclose(pipe);
    if (status != nullptr) *status = WIFEXITED(ended) ? WEXITSTATUS(ended) : -1;
    return out;
}

std::string in_chroot(const fs::path &phone, const std::string &command) {
    return said(VELMORA_SOURCE_DIR "/tests/helpers/in-phone " + phone.string() + " '" + command +
                "' 2>&1 </dev/null");
}

// A disk of 64 KiB (tmpfs) mounted at dir, holding what dir held.
void small_disk(const fs::path &dir) {
    said("d=" + dir.string() +
         "; tar -C $d -cf /tmp/held.tar . && mount -t tmpfs -o size=64k x $d" +
         " && tar -C $d -xf /tmp/held.tar; rm /tmp/held.tar");
}
void fill(const fs::path &dir) {
    said("dd if=/dev/zero of=" + dir.string() + "/filler 2>&1");
}

// Ends each velmora in the chroot; whether its supervisor then ends too.
bool ended(const fs::path &phone) {
    return wait_until([&] {
        for (const pid_t pid : in_phone(phone, true)) kill(pid, SIGTERM);
        return in_phone(phone, false).empty();
    });
}
bool runs(const fs::path &phone) {
    return wait_until([&] { return in_phone(phone, true).size() == 1; });
}

TEST_F(Velmora, FaultsTable) {
    if (geteuid() != 0) GTEST_SKIP() << "chroot and mount need root";
    const fs::path module = root_ / kModule.substr(1);
    const std::string prop = "id=velmora\ndescription=installed\n", start = kModule + "/start.sh";
    const auto save = [](const std::string &version) {
        return VELMORA_CTL " save " + base64_encode(settings(1, 27, 22, 7, 40000, 38000, version));
    };
    const struct {
        const char *fault, *expected;  // what the row finds wrong when all is well
        std::function<std::string(const fs::path &phone, const fs::path &dir)> run;
    } rows[] = {
        {"Action under a terminal that then closes (script)", "1",
         [](const fs::path &phone, const fs::path &) {
             said("script -qec \"" VELMORA_SOURCE_DIR "/tests/helpers/in-phone " + phone.string() +
                  " 'sh " + kModule + "/action.sh'\" /dev/null </dev/null");
             std::this_thread::sleep_for(std::chrono::seconds(1));
             return std::to_string(in_phone(phone, true).size());
         }},
        {"a full disk under the module, then freed", "1 id=velmora\ndescription=installed\n 1",
         [&](const fs::path &phone, const fs::path &dir) {
             small_disk(dir), fill(dir);
             in_chroot(phone, "sh " + start);
             const std::string seen =
                 std::to_string(runs(phone)) + " " + slurp(dir / "module.prop");
             fs::remove(dir / "filler");
             const bool told =
                 ended(phone) &&
                 slurp(dir / "module.prop").find("=已停止 / Stopped ") != std::string::npos;
             (void)umount2(dir.c_str(), MNT_DETACH);
             return seen + " " + std::to_string(told);
         }},
        {"velmora.lock a FIFO (start.sh), then a directory (Action)",
         "velmora not started: velmora.lock is a FIFO, not a file\n1\n"
         "It stopped again: velmora not started: velmora.lock is a directory, not a file\n",
         [&](const fs::path &phone, const fs::path &dir) {
             mkfifo((dir / "velmora.lock").c_str(), 0600);
             const std::string fifo = in_chroot(phone, "timeout 9 sh " + start + "; echo $?");
             fs::remove(dir / "velmora.lock");
             fs::create_directory(dir / "velmora.lock");
             return fifo + in_chroot(phone, "sh " + kModule + "/action.sh | grep 'It stopped'");
         }},
        {"velmora.err a FIFO, velmora.pid a link out of the module", "1 1 3000000\n420 kept\n",
         [&](const fs::path &phone, const fs::path &dir) {
             mkfifo((dir / "velmora.err").c_str(), 0600);
             put(phone / "outside", "kept\n");
             fs::create_symlink("/outside", dir / "velmora.pid");
             in_chroot(phone, "timeout 9 sh " + start);
             std::string seen = std::to_string(runs(phone)) + " ";
             seen += std::to_string(ended(phone)) + " ";
             const fs::path node = phone / kOldChargeNode;
             return seen + slurp(node) + std::to_string(mode_of(node)) + " " +
                    slurp(phone / "outside");
         }},
        {"velmora's log on a disk that fills and frees (x1000): lines not velmora's", "",
         [&](const fs::path &, const fs::path &) {
             log_on();
             small_disk(module);
             const pid_t velmora = start_velmora(root_, "2026-06-01 22:00:00", 1000);
             wait_for_lines(3), fill(module);
             std::this_thread::sleep_for(std::chrono::milliseconds(500));  // 50 cycles
             fs::remove(module / "filler");
             wait_for_lines(log().size() + 20);
             stop(velmora);
             (void)umount2(module.c_str(), MNT_DETACH);
             LogFields fields;
             std::string torn;
             for (const std::string &line : log())
                 if (!parse_log_line(line, &fields)) torn += line + "\n";
             return torn;
         }},
        {"a save killed (kill -9), a save into a closed pipe; temporaries left", "0 配置.alive3\n",
         [&](const fs::path &, const fs::path &) {
             const int held = open(kSaveLockFile, O_RDWR | O_CREAT, 0600);
             flock(held, LOCK_EX);  // the save waits with its temporary copy made
             said("(" + save("v8") + " & sleep 0.3; kill -9 $!)");
             close(held);
             put(std::string(kChargerKeptFile) + ".dead01", "");  // as a killed keep and zone leave
             put(std::string(kTzFile) + ".dead02", "");
             const int living =
                 open((std::string(kSettingsFile) + ".alive3").c_str(), O_CREAT, 0600);
             flock(living, LOCK_EX);  // a save under way
             int status = -1;
             said("bash -c '" + save("v9") + " | true; exit ${PIPESTATUS[0]}'", &status);
             put(kBootIdFile, "boot-2\n");
             put(kOldChargeNode, "3000000\n");  // as the kernel has it at a new boot
             ctl_charger_keep(), ctl_zone("UTC");
             close(living);
             return std::to_string(status) + " " +
                    said("ls -A " + module.string() + " | grep '[.]......$'");
         }},
        {"a clock set back a year: rows, sorted, hours; series 999999; a linked log cleared",
         "10 1 0 since=0 velmoractl: cannot empty ./data/adb/modules/velmora/PID_log: a symbolic "
         "link\nkept\n",
         [&](const fs::path &, const fs::path &) {
             std::string text;
             for (int i = 0; i < 3010; ++i) {  // 50 hours a minute apart, then 10 minutes
                 const time_t t = (i < 3000 ? 1777593600 : 1735689600) + 60 * i;
                 char stamp[32], line[512];
                 strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", gmtime(&t));
                 snprintf(line, sizeof line, kLogLineFormat, stamp, 22, 7, 40000, 38000, "Charging",
                          27, 39000, 300, 38000, 37820, 29, 1435, 1500, 50, 1, -2, kQualcommTag,
                          kOldGenerationTag, "demo", "v1");
                 text += line;
             }
             put(kLogFile, text);
             std::istringstream out(ctl_series(24, -1, -1, -1).out);
             std::vector<long long> t;
             for (std::string line; std::getline(out, line);)
                 if (isdigit(line[0])) t.push_back(std::stoll(line));
             const std::string all = ctl_series(999999, -1, -1, -1).out;
             put(root_ / "outside", "kept\n");
             fs::remove(kLogFile);
             fs::create_symlink(root_ / "outside", kLogFile);
             return std::to_string(t.size()) + " " +
                    std::to_string(std::is_sorted(t.begin(), t.end())) + " " +
                    std::to_string((t.back() - t.front()) / 3600) + " " +
                    all.substr(all.find("since="), 7) + " " + ctl_clear_log().err +
                    slurp(root_ / "outside");
         }},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.fault);
        char name[] = "/tmp/velmora-faults-XXXXXX";
        const fs::path phone = mkdtemp(name), dir = phone / kModule.substr(1);
        said(VELMORA_SOURCE_DIR "/tests/helpers/lay-out-phone " + phone.string() +
             " Charging 0 busybox && cd " + name +
             " && mkdir opt && cp " VELMORA_BINARY " " VELMORA_CTL " opt && cp " VELMORA_SOURCE_DIR
             "/module/*.sh ." +
             kModule + " && ln -s /opt/velmora /opt/velmoractl ." + kModule +
             " && for lib in $(ldd " VELMORA_BINARY "; ldd " VELMORA_CTL
             " 2>&1); do case $lib in /*[!:]) install -D $lib .$lib ;; esac; done");
        put(dir / "module.prop", prop);
        EXPECT_EQ(row.run(phone, dir), row.expected);
        EXPECT_TRUE(ended(phone));
        fs::remove_all(phone);
    }
}

}  // namespace
