// velmoractl: the real binary on bad input and saves, the library on the
// phone's nodes, its log and the charge node.
#include <fcntl.h>
#include <unistd.h>

#include <sstream>

#include "base64.h"
#include "commands.h"
#include "log_line.h"
#include "module_files.h"
#include "nodes.h"
#include "phone.h"
#include "verdict.h"

namespace {

using Ctl = InTree;

// Runs the real velmoractl in the tree: its status, stdout and stderr.
CtlOutput run_ctl(std::vector<std::string> args) {
    args.insert(args.begin(), VELMORA_CTL);
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char *> argv;
        for (std::string &arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        dup2(open("out", O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        dup2(open("err", O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return CtlOutput{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp("out"), slurp("err")};
}

TEST_F(Ctl, SaveAndBadInputTable) {
    const std::string kept = slurp(kSettingsFile);
    const std::string notes = "\n# \xff\xfe not UTF-8\r\n";
    const std::string good = settings(1, 5, 23, 6, 41000, 37000, "v9", "m") + notes;
    const std::string module = fs::path(kSettingsFile).parent_path(), g = base64_encode(good);
    const std::string update = "data/adb/modules_update/velmora", token = settings_token(kept),
                      stale = settings_token("");
    const struct {
        const char *name;
        std::vector<std::string> args;
        int status;
        std::string out;  // for status 2 and 3: the start of the one line on stderr
        std::string file;
        std::string directory = "";   // made before the run
        bool linked = false;          // 配置 a link to the file
        const char *err = kNoReport;  // for status 0 and 1: the start of stderr
        mode_t module_mode = 0755;
    } cases[] = {
        {"unknown, a line feed", {"fr\nob"}, 2, "unknown subcommand \"fr\\x0aob\"", kept},
        {"missing argument", {"save"}, 2, "save takes [--if TOKEN] BASE64", kept},
        {"bad base64", {"save", "QUJD!==="}, 2, "the new settings are not base64", kept},
        {"over 64 KiB",
         {"save", base64_encode(std::string(65537, 'x'))},
         2,
         "the new settings are over",
         kept},
        {"a directory to check", {"check", module}, 2, module + ": a directory", kept},
        {"a FIFO to check", {"check", "fifo"}, 2, "fifo: not a regular file", kept},
        {"unwritable module directory",
         {"save", g},
         2,
         "cannot write beside",
         kept,
         "",
         false,
         kNoReport,
         0555},
        {"refused",
         {"save", base64_encode("日志开关=1\n功率=x")},
         1,
         "读取配置数据失败: entry 2 (功率=) at byte 22: no number\n",
         kept},
        {"配置 a link", {"save", g}, 2, module + "/配置 is a symbolic link", kept, "", true},
        {"not a token", {"save", "--if", "1-x", g}, 2, "save --if takes a token", kept},
        {"a token with a sign",
         {"save", "--if", "+" + token, g},
         2,
         "save --if takes a token",
         kept},
        {"changed since", {"save", "--if", stale, g}, 3, module + "/配置 changed since", kept},
        {"saved, not to the pending update",
         {"save", "--if", token, g},
         0,
         "saved\n",
         good,
         update + "/配置",
         false,
         "velmoractl: not saved to the pending update"},
        {"saved, to the pending update too", {"save", g}, 0, "saved\n", good, update},
    };
    ASSERT_EQ(mkfifo("fifo", 0644), 0);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all("data/adb/modules_update");
        put(kSettingsFile, kept);
        if (!c.directory.empty()) fs::create_directories(c.directory);
        if (c.linked) {
            fs::rename(kSettingsFile, "real");
            fs::create_symlink(fs::absolute("real"), kSettingsFile);
        }
        if (c.module_mode != 0755 && geteuid() == 0) continue;  // root writes anyway
        chmod(module.c_str(), c.module_mode);
        const CtlOutput got = run_ctl(c.args);
        chmod(module.c_str(), 0755);
        EXPECT_EQ(got.status, c.status);
        if (c.status >= 2) {
            EXPECT_EQ(got.out, "");
            EXPECT_EQ(got.err.rfind("velmoractl: " + c.out, 0), 0u) << got.err;
            EXPECT_EQ(std::count(got.err.begin(), got.err.end(), '\n'), 1) << got.err;
        } else {
            EXPECT_EQ(got.out, c.out);
            expect_report(got.err, c.err);
        }
        EXPECT_EQ(slurp(kSettingsFile), c.file);
        EXPECT_EQ(fs::is_symlink(kSettingsFile), c.linked);
        for (const auto &entry : fs::directory_iterator(module)) {  // no temporary file left
            EXPECT_EQ(entry.path().filename().string().rfind("配置.", 0), std::string::npos);
        }
    }
    EXPECT_EQ(slurp(kUpdateSettingsFile), good);
    put(kSettingsFile, kept + std::string(70000, '#'));  // over 64 KiB, unread: its token is none
    EXPECT_EQ(run_ctl({"save", "--if", "none", g}).status, 0);
    // The notes come back byte for byte, through the bridge's encoding too.
    std::string settings;
    const CtlOutput shown = run_ctl({"--base64", "settings"});
    ASSERT_TRUE(base64_decode(shown.out.substr(0, shown.out.size() - 1), &settings));
    EXPECT_NE(settings.find("model=m\nversion_base64=djk=\nmodel_base64=bQ==\nnotes_base64=" +
                            base64_encode("\n" + notes) + "\ntoken=" + settings_token(good) +
                            "\nsettings=ok\n"),
              std::string::npos)
        << settings;
}

// The scripts take the schema's lines into shell variables by eval: each is
// a name, "=" and a value of plain words, and the names are velmora's.
TEST_F(Ctl, SchemaIsPlainWords) {
    const std::string out = ctl_schema().out;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const size_t eq = line.find('=');
        EXPECT_TRUE(eq != std::string::npos && eq > 0 && eq + 1 < line.size() &&
                    line.find_first_not_of("abcdefghijklmnopqrstuvwxyz_C") == eq &&
                    line.find_first_of(" \t'\"`$\\;&|<>(){}*?#~", eq) == std::string::npos)
            << line;
    }
    EXPECT_NE(out.find("\nerr_file=velmora.err\n"), std::string::npos);
}

// The state now, with velmora running (the pid file's process runs velmora,
// or another does) and not (the pid names another program): then the last
// report, from velmora.err's older half when velmora.err has only velmoractl's.
TEST_F(Ctl, Status) {
    put(kPidFile, "4242\n");
    put(kOlderErrFile, "old\n2026-06-01 22:00:00 读取配置数据失败: Success\n");
    put(kErrFile,
        "2026-06-01 22:00:00 velmoractl: charge node put back to 3000000 uA, mode 0644\n");
    put(kQualcommBacklightNode, "100\n");
    const std::string velmora = "/data/adb/modules/velmora/velmora";
    const struct {
        std::string program, other;  // of 4242 and 4343 ("": no such process)
        const char *start;
    } cases[] = {
        {velmora, "", "running=yes\npid=4242\nsince=20"},
        {"/system/bin/sh", "",
         "running=no\npid=\nsince=\nlast_report=2026-06-01 22:00:00 读取配置数据失败: Success\n"},
        {"/system/bin/sh", velmora, "running=yes\npid=4343\nsince=\nlast_report=\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.start);
        put(std::string(kProcDir) + "/4242/cmdline", c.program + '\0' + "arg");
        fs::remove_all(std::string(kProcDir) + "/4343");
        if (!c.other.empty()) put(std::string(kProcDir) + "/4343/cmdline", c.other + '\0');
        const std::string out = ctl_status().out;
        EXPECT_EQ(out.rfind(c.start, 0), 0u) << out;
        EXPECT_EQ(out.substr(out.find("status=")),
                  "status=Charging\nbattery_C=35.0\nboard_C=36.0\nscreen=on\ntarget=screen on\n"
                  "target_C=40.0\nlimit_mA=3000\nlimit_mode=0644\nrestore=none\nrestore_mA=\n"
                  "restore_mode=\nshown_at_boot=\nsettings=ok\nsettings_entry=\n"
                  "settings_byte=103\nsettings_end_byte=103\nlog_switch=2\npower=27\nnight=22\n"
                  "morning=7\non_temp_mC=40000\noff_temp_mC=38000\nversion=v1\nmodel=demo\n"
                  "max_current_mA=4949\non_temp_C=40.0\noff_temp_C=38.0\nlog=off\nlog_bytes=0\n"
                  "log_last=\n");
    }
}

// The probe with each node of the catalogue missing in turn.
TEST_F(Ctl, ProbeTable) {
    const struct {
        const char *node;
        const char *missing;  // "": still supported
    } cases[] = {
        {kStatusNode, "battery status"},
        {kBatteryTempNode, "battery temperature"},
        {kBoardTempNode, ""},
        {kQualcommBacklightNode, "backlight"},  // the tree has no MediaTek one
        {kOldChargeNode, "charge current"},     // nor a newer-generation one
        {kCurrentNowNode, ""},
        {kCapacityNode, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.node);
        lay_out_phone(root_);
        fs::remove(c.node);
        const CtlOutput got = ctl_probe();
        EXPECT_EQ(got.status, c.missing[0] == '\0' ? 0 : 1);
        EXPECT_NE(got.out.find(c.missing[0] == '\0'
                                   ? std::string("supported=yes\n")
                                   : "supported=no\nmissing=" + std::string(c.missing) + "\n"),
                  std::string::npos)
            << got.out;
    }
    put(kNewChargeNode, "1\n");
    put(kMediatekBacklightNode, "1\n");
    fs::remove(kQualcommBacklightNode);
    EXPECT_EQ(ctl_probe().status, 0);  // the other family and generation will do
}

// A day and more of velmora's lines, 10 s apart, with lines of others among them.
TEST_F(Ctl, SeriesWindowAndPaging) {
    const time_t first = 1780272000;  // 2026-06-01 00:00:00 UTC
    const int lines = 12005;
    std::string log;
    for (int i = 0; i < lines; ++i) {
        const time_t t = first + 10 * i;
        char stamp[32], line[512];
        strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", gmtime(&t));
        snprintf(line, sizeof line, kLogLineFormat, stamp, 22, 7, 40000, 38000, "Charging", 27,
                 39000, 300 + i % 100, 38000, 37820, 29, 1435, 1500, 50, 1, -2, kQualcommTag,
                 kOldGenerationTag, "MI,11", "v2");
        log += line;
        if (i % 1000 == 999) log += "not velmora's,目标温度=1\n";
    }
    put(kLogFile, log + "2026-06-02 09:20:50,晚上=22到早上");  // a line being written
    const auto rows = [](const CtlOutput &got) {
        return std::count(got.out.begin(), got.out.end(), '\n') - 2;
    };
    const CtlOutput day = ctl_series(24, -1, -1, -1);
    EXPECT_EQ(rows(day), 8641);  // both ends inside
    EXPECT_NE(day.out.find("\n1780358400,340,38000,39000,1435,1500,50\n"), std::string::npos);
    EXPECT_NE(day.out.find("\nend log=ok since=1780305640 until=1780305640 skipped=9 more=0\n"),
              std::string::npos);

    const CtlOutput newest = ctl_series(24, 0, -1, -1);
    EXPECT_EQ(rows(newest), 12000);
    const size_t more = newest.out.find("more=");
    ASSERT_NE(more, std::string::npos);
    const int64_t before = std::stoll(newest.out.substr(more + 5));
    EXPECT_EQ(log.substr(before - 1, 1), "\n");
    const CtlOutput oldest = ctl_series(24, 0, -1, before);
    EXPECT_EQ(rows(oldest), lines - 12000);
    EXPECT_NE(oldest.out.find("\nend log=ok since=0 until=1780272000 skipped=0 more=0\n"),
              std::string::npos);
    // A line past the bound: skipped, so that the next call moves on.
    put(kLogFile, log + std::string(9 << 20, 'x') + "\n");
    const int64_t cut = static_cast<int64_t>(log.size()) + 1048577;
    EXPECT_NE(ctl_series(24, -1, -1, -1)
                  .out.find("\nend log=ok since=none until=none skipped=1 more=" +
                            std::to_string(cut) + "\n"),
              std::string::npos);
    fs::remove(kLogFile);
    EXPECT_NE(ctl_series(24, -1, -1, -1)
                  .out.find("\nend log=missing since=none until=none skipped=0 more=0\n"),
              std::string::npos);
}

// The kernel's own value and mode, kept once per boot, come back when velmora
// ends; a node that showed no limit gets velmora's highest instead.
TEST_F(Ctl, ChargerKeepAndRestore) {
    const std::string highest =
        "set to 2147483647 uA (velmora's highest limit: the kernel showed "
        "no limit at boot, ";
    const struct {
        std::string at_boot;
        mode_t mode;
        std::string restored, after, status;
    } rows[] = {
        {"3000000\n", 0644, "put back to 3000000 uA, mode 0644", "3000000\n",
         "kernel\nrestore_mA=3000"},
        {"-22\n", 0644, highest + "\"-22\"), mode 0644", "2147483647\n",
         "highest\nrestore_mA=2147483"},
        {"0\n", 0644, highest + "\"0\"), mode 0644", "2147483647\n", "highest\nrestore_mA=2147483"},
        {"4294967295\n", 0644, highest + "\"4294967295\"), mode 0644", "2147483647\n",
         "highest\nrestore_mA=2147483"},
        {"", 0644, highest + "\"\"), mode 0644", "2147483647\n", "highest\nrestore_mA=2147483"},
        {"max\r\n", 0664, highest + "\"max\"), mode 0664", "2147483647\n",
         "highest\nrestore_mA=2147483"},
    };
    int boot = 0;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.at_boot);
        put(kBootIdFile, "boot-" + std::to_string(++boot) + "\n");
        put(kOldChargeNode, row.at_boot);
        chmod(kOldChargeNode, row.mode);
        EXPECT_NE(ctl_probe().out.find(row.status[0] == 'k' ? "\ncharge_limit=3000000\n"
                                                            : "\ncharge_limit=none\ncharge_note="),
                  std::string::npos);
        EXPECT_EQ(ctl_charger_keep().status, 0);
        put(kOldChargeNode, "500000\n");  // velmora's limit, locked, then an Action restart
        chmod(kOldChargeNode, 0444);
        EXPECT_EQ(ctl_charger_keep().out.rfind("charge node kept already this boot: ", 0), 0u);
        EXPECT_NE(ctl_status().out.find("\nrestore=" + row.status + "\n"), std::string::npos);
        EXPECT_EQ(ctl_charger_restore().out, "charge node " + row.restored + "\n");
        EXPECT_EQ(slurp(kOldChargeNode), row.after);
        EXPECT_EQ(mode_of(kOldChargeNode), row.mode);
    }
    put(kOldChargeNode, "7\n");
    const std::string node = std::string("node=") + kOldChargeNode + "\nshown=7\n";
    for (const std::string &record : {
             "boot=boot-7\n" + node + "value=3000000\nmode=0640\n",  // of another boot
             "boot=boot-6\n" + node + "value=3000000\nmode=-1\n",
             "boot=boot-6\n" + node + "value=3000000\nmode=1777\n",
             "boot=boot-6\n" + node + "value= 3000000\nmode=0640\n",
             "boot=boot-6\n" + node + "value=+3000000\nmode=0640\n",
             "boot=boot-6\n" + node + "value=0\nmode=0640\n",  // never a limit of 0
             "boot=boot-6\n" + node + "value=none\nvalue=3000000\nmode=0640\n",
             "boot=boot-6\n" + node + "value=3000000\n",  // cut short
         }) {
        SCOPED_TRACE(record);
        put(kChargerKeptFile, record);
        EXPECT_EQ(ctl_charger_restore().status, 1);
        EXPECT_EQ(slurp(kOldChargeNode), "7\n");
        EXPECT_EQ(mode_of(kOldChargeNode), 0644u);  // as put, a new file
    }
    fs::remove(kChargerKeptFile);  // lost once velmora has written: nothing kept nor put back
    chmod(kOldChargeNode, 0444);
    EXPECT_EQ(ctl_charger_keep().status, 1);
    EXPECT_EQ(ctl_charger_restore().err.rfind("velmoractl: nothing to put back", 0), 0u);
    put(kChargerKeptFile, "boot=boot-6\n" + node + "value=none\nmode=0644\n");
    fs::remove(kOldChargeNode);  // a node that takes no write is no success
    EXPECT_EQ(ctl_charger_restore().err, std::string("velmoractl: cannot write 2147483647 uA to ") +
                                             kOldChargeNode + ": No such file or directory\n");
}

}  // namespace
