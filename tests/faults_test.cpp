// What a user meets that no regulation test shows: a terminal that closes
// after Action, a full disk, a killed save, a clock set back, and links,
// FIFOs or directories in place of the module's own files. One table; a row
// that involves a shell runs the module's scripts in a chroot of a phone tree
// in the manager's BusyBox, with the host's velmora and velmoractl.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>

#include <cinttypes>

#include "base64.h"
#include "commands.h"
#include "log_line.h"
#include "phone.h"

namespace {

const fs::path kModule = "data/adb/modules/velmora";

int sh(const std::string &command) {
    const int status = system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What a command says on its standard output.
std::string said(const std::string &command) {
    std::string out;
    FILE *pipe = popen(command.c_str(), "r");
    for (int c = pipe != nullptr ? fgetc(pipe) : EOF; c != EOF; c = fgetc(pipe)) out += char(c);
    if (pipe != nullptr) pclose(pipe);
    return out;
}

// A chroot phone at root, charging with the log off: the module's scripts as
// in the zip, its binaries in /opt (linked from the module, so that a small
// disk there holds the rest), module.prop as installed.
void lay_out_scripted_phone(const fs::path &root) {
    const std::string r = root.string(), m = (root / kModule).string();
    ASSERT_EQ(sh(VELMORA_SOURCE_DIR "/tests/helpers/lay-out-phone " + r +
                 " Charging 0 busybox >/dev/null && mkdir -p " + r +
                 "/opt && cp " VELMORA_BINARY " " VELMORA_CTL " " + r +
                 "/opt && cp " VELMORA_SOURCE_DIR "/module/*.sh " + m +
                 " && ln -s /opt/velmora /opt/velmoractl " + m +
                 " && for lib in $(ldd " VELMORA_BINARY "; ldd " VELMORA_CTL
                 " 2>/dev/null); do case $lib in /*[!:]) install -D $lib " +
                 r + "$lib ;; esac; done"),
              0);
    put(root / kModule / "module.prop", "id=velmora\nname=velmora\ndescription=installed\n");
}

std::string in_phone_says(const fs::path &root, const std::string &command) {
    return said(VELMORA_SOURCE_DIR "/tests/helpers/in-phone " + root.string() + " '" + command +
                "' 2>&1 </dev/null");
}

// Ends every velmora in the chroot and waits for its supervisor's last word.
bool end_phone(const fs::path &root) {
    return wait_until([&] {
        for (const pid_t pid : in_phone(root, true)) kill(pid, SIGTERM);
        return in_phone(root, false).empty();
    });
}

// A disk of 64 KiB (a tmpfs) mounted at dir, holding what dir held.
void small_disk(const fs::path &dir) {
    const std::string d = dir.string();
    ASSERT_EQ(sh("tar -C " + d + " -cf /tmp/velmora-held.tar . && mount -t tmpfs -o size=64k x " +
                 d + " && tar -C " + d + " -xf /tmp/velmora-held.tar && rm /tmp/velmora-held.tar"),
              0);
}

// Fills the disk at dir with a file `filler`.
void fill(const fs::path &dir) {
    ASSERT_NE(sh("dd if=/dev/zero of=" + (dir / "filler").string() + " bs=1k 2>/dev/null"), 0);
}

// Lines of the log that velmora's reader does not take as velmora's.
int torn_lines(const std::string &log) {
    std::istringstream in(log);
    LogFields fields;
    int torn = 0;
    for (std::string line; std::getline(in, line);) torn += !parse_log_line(line, &fields);
    return torn;
}

TEST_F(Velmora, FaultsTable) {
    if (geteuid() != 0) GTEST_SKIP() << "chroot and mount need root";
    const fs::path module = root_ / kModule;
    const struct {
        const char *fault;
        std::function<std::string(const fs::path &phone)> run;  // what went wrong, or ""
    } rows[] = {
        {"Action from a terminal that then closes",
         [](const fs::path &phone) {
             // script's session, and the terminal with it, end with action.sh.
             (void)said("script -qec \"" VELMORA_SOURCE_DIR "/tests/helpers/in-phone " +
                        phone.string() + " 'sh /" + kModule.string() +
                        "/action.sh'\" /dev/null </dev/null");
             std::this_thread::sleep_for(std::chrono::seconds(1));
             return in_phone(phone, true).size() == 1 ? "" : "velmora did not outlive it";
         }},
        {"a full disk under the module",
         [](const fs::path &phone) {
             const fs::path dir = phone / kModule;
             small_disk(dir);
             fill(dir);
             std::string wrong;
             (void)in_phone_says(phone, "sh /" + kModule.string() + "/start.sh");
             if (!wait_until([&] { return in_phone(phone, true).size() == 1; }))
                 wrong += "velmora did not start; ";
             if (slurp(dir / "module.prop") != "id=velmora\nname=velmora\ndescription=installed\n")
                 wrong += "module.prop: " + slurp(dir / "module.prop") + "; ";
             fs::remove(dir / "filler");  // the space back: velmora's end is told
             if (!end_phone(phone) ||
                 slurp(dir / "module.prop").find("\ndescription=已停止 / Stopped ") ==
                     std::string::npos)
                 wrong += "not told stopped: " + slurp(dir / "module.prop");
             (void)umount2(dir.c_str(), MNT_DETACH);
             return wrong;
         }},
        {"velmora.lock a FIFO, velmora.lock a directory",
         [](const fs::path &phone) {
             const fs::path lock = phone / kModule / "velmora.lock";
             std::string wrong;
             mkfifo(lock.c_str(), 0600);
             const std::string fifo =
                 in_phone_says(phone, "timeout 10 sh /" + kModule.string() + "/start.sh; echo $?");
             if (fifo != "velmora not started: velmora.lock is a FIFO, not a file\n1\n")
                 wrong += "start.sh said: " + fifo;
             fs::remove(lock);
             fs::create_directory(lock);
             const std::string action =
                 in_phone_says(phone, "timeout 20 sh /" + kModule.string() + "/action.sh");
             if (action.find("It stopped again: velmora not started: velmora.lock is a "
                             "directory, not a file\n") == std::string::npos)
                 wrong += "Action said: " + action;
             return wrong;
         }},
        {"velmora.err a FIFO, velmora.pid a link out of the module",
         [](const fs::path &phone) {
             const fs::path dir = phone / kModule;
             mkfifo((dir / "velmora.err").c_str(), 0600);
             put(phone / "outside", "kept\n");
             fs::create_symlink("/outside", dir / "velmora.pid");
             (void)in_phone_says(phone, "timeout 10 sh /" + kModule.string() + "/start.sh");
             std::string wrong;
             if (!wait_until([&] { return in_phone(phone, true).size() == 1; }))
                 wrong += "velmora did not start; ";
             if (!end_phone(phone)) wrong += "the supervisor hangs; ";
             const fs::path node = phone / kOldChargeNode;
             if (slurp(node) != "3000000\n" || mode_of(node) != 0644)
                 wrong += "node not put back; ";
             if (slurp(phone / "outside") != "kept\n") wrong += "written through the link";
             return wrong;
         }},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.fault);
        char name[] = "/tmp/velmora-faults-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        lay_out_scripted_phone(name);
        EXPECT_EQ(row.run(name), "");
        EXPECT_TRUE(end_phone(name));
        fs::remove_all(name);
    }

    // On the host: velmora's log on a disk that fills and frees, at x1000.
    log_on();
    small_disk(module);
    const pid_t velmora = start_velmora(root_, "2026-06-01 22:00:00", 1000);
    EXPECT_TRUE(wait_for_lines(3));
    fill(module);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // 50 cycles on a full disk
    fs::remove(module / "filler");
    EXPECT_TRUE(wait_for_lines(log().size() + 20));
    stop(velmora);
    EXPECT_EQ(torn_lines(slurp(kLogFile)), 0) << slurp(kLogFile);
    (void)umount2(module.c_str(), MNT_DETACH);

    // A save killed while its temporary copy waits for the save lock, then a
    // save; a keep and a zone beside the dead temporaries of theirs, and one
    // of a writer that lives on.
    const int held = open(kSaveLockFile, O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    const std::string encoded = base64_encode(settings(1, 27, 22, 7, 40000, 38000, "v9"));
    const pid_t save = fork();
    if (save == 0) execl(VELMORA_CTL, "velmoractl", "save", encoded.c_str(), nullptr), _exit(127);
    EXPECT_TRUE(
        wait_until([&] { return said("ls " + module.string() + " | grep '^配置\\.'") != ""; }));
    kill(save, SIGKILL);
    waitpid(save, nullptr, 0);
    close(held);
    put(std::string(kChargerKeptFile) + ".dead01", "");
    put(std::string(kTzFile) + ".dead02", "");
    const int living = open((std::string(kTzFile) + ".alive3").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(flock(living, LOCK_EX), 0);
    EXPECT_EQ(sh("cd " + root_.string() + " && bash -c '" VELMORA_CTL " save " + encoded +
                 " | true; exit ${PIPESTATUS[0]}'"),
              0)
        << "a save into a closed pipe";
    put(kBootIdFile, "boot-2\n");
    put(kOldChargeNode, "3000000\n");  // as the kernel has it at a new boot
    EXPECT_EQ(ctl_charger_keep().status, 0);
    (void)ctl_zone("UTC");
    close(living);
    EXPECT_EQ(said("ls " + module.string() + " | grep '\\.......$'"), "velmora.tz.alive3\n");

    // A clock set back: 40,000 lines a minute apart, then 10 stamped a year
    // and more before, read as the page reads them.
    std::string stepped;
    for (int i = 0; i < 40010; ++i) {
        const time_t t = i < 40000 ? 1777593600 + 60 * i : 1735689600 + 60 * (i - 40000);
        char stamp[32], line[512];
        strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", gmtime(&t));
        snprintf(line, sizeof line, kLogLineFormat, stamp, 22, 7, 40000, 38000, "Charging", 27,
                 39000, 300, 38000, 37820, 29, 1435, 1500, 50, 1, -2, kQualcommTag,
                 kOldGenerationTag, "demo", "v1");
        stepped += line;
    }
    put(kLogFile, stepped);
    std::vector<int64_t> stamps;
    for (int64_t since = -1, until = -1, before = -1; before != 0;) {
        std::istringstream out(ctl_series(24, since, until, before).out);
        std::string line;
        std::getline(out, line);  // the header
        while (std::getline(out, line) && line.rfind("end ", 0) != 0)
            stamps.push_back(std::stoll(line));
        sscanf(line.c_str(),
               "end log=ok since=%" SCNd64 " until=%" SCNd64 " skipped=%*d more=%" SCNd64, &since,
               &until, &before);
    }
    EXPECT_TRUE(std::is_sorted(stamps.begin(), stamps.end()));
    EXPECT_LE(stamps.back() - stamps.front(), 36 * 3600);
    EXPECT_EQ(stamps.size(), 10u);
    EXPECT_NE(ctl_series(999999, -1, -1, -1).out.find(" since=0 "), std::string::npos);

    // PID_log a link out of the module: clear-log leaves its target be.
    put("outside", "kept\n");
    fs::remove(kLogFile);
    fs::create_symlink(root_ / "outside", kLogFile);
    EXPECT_EQ(ctl_clear_log().err,
              std::string("velmoractl: cannot empty ") + kLogFile + ": a symbolic link\n");
    EXPECT_EQ(slurp("outside"), "kept\n");
}

}  // namespace
