// Several actors at once, a few hundred rounds each: two saves (velmora
// reading 配置 all the while), two start.sh in the manager's BusyBox, and a
// keep after a first keep that could not write. Each row counts what a user
// would see go wrong: an exit status or output, 配置's bytes, more than one
// velmora, the charge node's value.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <random>
#include <set>

#include "base64.h"
#include "commands.h"
#include "phone.h"
#include "verdict.h"

namespace {

using Faults = std::map<std::string, int>;  // what went wrong, and how often

// velmora at x1000 (a cycle every 10 ms) and a reader that polls 配置 as
// velmora reads it, while each round runs a save of A (valid) and one of B
// (valid, or refused: refused_b) at once.
Faults saves_at_once(const fs::path &root, int rounds, bool refused_b) {
    Faults faults;
    const pid_t velmora = launch_velmora(VELMORA_BINARY, FAKETIME_LIBRARY, root, root / "stderr",
                                         "2026-06-01 21:59:30", 1000);
    std::atomic<bool> done{false};
    std::atomic<int> refused_reads{0};
    std::thread reader([&] {
        while (!done) refused_reads += read_settings_file(kSettingsFile).verdict.text != "ok";
    });
    for (int i = 0; i < rounds; ++i) {
        const std::string v = "v" + std::to_string(i);
        const std::string a = settings(1, 27, 22, 7, 40000, 38000, v, "a");
        const std::string b =
            refused_b ? "日志开关=1\n功率=abc\n" + v : settings(1, 27, 22, 7, 40000, 38000, v, "b");
        const pid_t pa = start_program({VELMORA_CTL, "save", base64_encode(a)}, "a");
        const pid_t pb = start_program({VELMORA_CTL, "save", base64_encode(b)}, "b");
        const CtlOutput got_a = finish(pa, "a"), got_b = finish(pb, "b");
        const std::string now = slurp(kSettingsFile);
        faults["a valid save not \"saved\""] += got_a.status != 0 || got_a.out != "saved\n";
        faults[refused_b ? "the refused save not refused" : "a valid save not \"saved\""] +=
            refused_b ? got_b.status != 1 : got_b.status != 0 || got_b.out != "saved\n";
        faults["配置 holds neither valid file"] += now != a && (refused_b || now != b);
    }
    done = true;
    reader.join();
    faults["reads velmora would stop at"] = refused_reads;
    int status = 0;
    faults["velmora stopped"] = waitpid(velmora, &status, WNOHANG) == velmora;
    if (!faults["velmora stopped"]) end_velmora(velmora);
    return faults;
}

// The processes whose root is the phone's, and of those velmora's.
std::vector<pid_t> in_phone(const fs::path &root, bool velmora_only) {
    std::vector<pid_t> found;
    for (const auto &entry : fs::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename();
        std::error_code error;
        if (pid.find_first_not_of("0123456789") != std::string::npos ||
            fs::read_symlink(entry.path() / "root", error) != root)
            continue;
        const std::string program = slurp(entry.path() / "cmdline").c_str();
        if (!velmora_only || fs::path(program).filename() == "velmora") {
            found.push_back(std::stoi(pid));
        }
    }
    return found;
}

// Two start.sh at once in the manager's BusyBox in a chroot of a phone tree
// (the module's scripts from the zip, the host's velmora and velmoractl),
// then every velmora killed until nothing of the module runs.
Faults starts_at_once_on_a_phone(int rounds) {
    Faults faults;
    char name[] = "/tmp/velmora-stress-XXXXXX";
    EXPECT_NE(mkdtemp(name), nullptr);
    const fs::path root = name, module = root / "data/adb/modules/velmora";
    const std::string setup =
        VELMORA_SOURCE_DIR "/tests/helpers/lay-out-phone " + root.string() +
        " Charging 0 busybox && " VELMORA_SOURCE_DIR "/tests/helpers/unpack-module " +
        root.string() + " " VELMORA_ZIP " && cp " VELMORA_BINARY " " + module.string() +
        "/velmora && cp " VELMORA_CTL " " + module.string() +
        "/velmoractl && for lib in $(ldd " VELMORA_BINARY
        " | grep -o '/[^ ]*'); do "
        "install -D $lib " +
        root.string() + "$lib; done";
    EXPECT_EQ(system(setup.c_str()), 0);
    const fs::path node = root / kOldChargeNode;
    for (int i = 0; i < rounds; ++i) {
        const std::vector<std::string> start = {VELMORA_SOURCE_DIR "/tests/helpers/in-phone", root,
                                                "sh /data/adb/modules/velmora/start.sh"};
        const pid_t first = start_program(start, root / "first"),
                    second = start_program(start, root / "second");
        finish(first, root / "first");
        finish(second, root / "second");
        std::set<pid_t> velmoras;
        EXPECT_TRUE(wait_until([&] {
            for (const pid_t pid : in_phone(root, true)) {
                velmoras.insert(pid);
                kill(pid, SIGTERM);
            }
            return in_phone(root, false).empty();
        }));
        faults["velmoras started at once, not one"] += velmoras.size() != 1;
        faults["node not put back"] += slurp(node) != "3000000\n" || mode_of(node) != 0644;
        faults["not \"Stopped\""] +=
            slurp(module / "module.prop").find("\ndescription=Stopped ") == std::string::npos;
    }
    fs::remove_all(root);
    return faults;
}

// That on several phones at once, which also run their velmoras side by side.
Faults starts_at_once(int rounds) {
    constexpr int kPhones = 4;
    Faults each[kPhones], all;
    std::vector<std::thread> phones;
    for (Faults &faults : each) {
        phones.emplace_back(
            [&faults, rounds] { faults = starts_at_once_on_a_phone(rounds / kPhones); });
    }
    for (std::thread &phone : phones) phone.join();
    for (const Faults &faults : each) {
        for (const auto &[what, count] : faults) all[what] += count;
    }
    return all;
}

// A first keep of each boot that cannot write its record, velmora started
// (x100: its first write at once), a second keep after 0 to 10 ms, then
// velmora killed and restore: the node must never be put back to anything
// but the kernel's own 3000000 uA at mode 0644.
Faults keep_after_failed_keep(const fs::path &root, int rounds) {
    Faults faults;
    std::mt19937 random(22);
    for (int i = 0; i < rounds; ++i) {
        put(kBootIdFile, "boot-" + std::to_string(i) + "\n");
        put(kOldChargeNode, "3000000\n");
        chmod(kOldChargeNode, 0644);
        fs::create_directory(kChargerKeptFile);  // in the record's way
        EXPECT_NE(ctl_charger_keep().status, 0);
        fs::remove(kChargerKeptFile);
        const pid_t velmora = launch_velmora(VELMORA_BINARY, FAKETIME_LIBRARY, root,
                                             root / "stderr", "2026-06-01 21:59:30", 100);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 10000));
        (void)ctl_charger_keep();
        end_velmora(velmora);
        const bool put_back = ctl_charger_restore().status == 0;
        faults["restore put back velmora's limit"] +=
            put_back && (slurp(kOldChargeNode) != "3000000\n" || mode_of(kOldChargeNode) != 0644);
        fs::remove(kChargerKeptFile);
    }
    return faults;
}

TEST_F(Velmora, SeveralActorsAtOnce) {
    if (geteuid() != 0) GTEST_SKIP() << "chroot needs root";
    const struct {
        const char *name;
        int rounds;
        std::function<Faults(int rounds)> run;
    } rows[] = {
        {"two valid saves", 300, [&](int n) { return saves_at_once(root_, n, false); }},
        {"a valid and a refused save", 300, [&](int n) { return saves_at_once(root_, n, true); }},
        {"two start.sh", 200, [](int n) { return starts_at_once(n); }},
        {"keep after a failed first keep", 300,
         [&](int n) { return keep_after_failed_keep(root_, n); }},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const auto began = std::chrono::steady_clock::now();
        const Faults faults = row.run(row.rounds);
        const auto took = std::chrono::steady_clock::now() - began;
        std::string counts;
        for (const auto &[what, count] : faults) {
            EXPECT_EQ(count, 0) << what;
            if (count != 0) counts += "; " + what + ": " + std::to_string(count);
        }
        printf("%s, %d rounds in %.1f s%s\n", row.name, row.rounds,
               std::chrono::duration<double>(took).count(),
               counts.empty() ? "; no fault" : counts.c_str());
    }
}

}  // namespace
