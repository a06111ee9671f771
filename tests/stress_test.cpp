// Actors at once, a few hundred rounds a row: two saves while velmora reads
// 配置, two start.sh in the manager's BusyBox, and a keep after a first keep
// that could not write. A row counts what a user would see go wrong.
#include <signal.h>

#include <atomic>
#include <future>
#include <map>
#include <random>
#include <set>

#include "base64.h"
#include "commands.h"
#include "phone.h"
#include "verdict.h"

namespace {

using Faults = std::map<std::string, int>;  // what went wrong, how often

// Each round a save of a (valid) and one of b (valid, or refused) at once,
// while velmora at x1000 (a cycle every 10 ms) and a reader poll 配置.
Faults saves_at_once(const fs::path &root, int rounds, bool refused) {
    Faults faults;
    const pid_t velmora = start_velmora(root, "2026-06-01 22:00:00", 1000);
    std::atomic<bool> done{false};
    int torn = 0;
    std::thread reader([&] {
        while (!done) torn += read_settings_file(kSettingsFile).verdict.text != "ok";
    });
    // As velmoractl save does it, each in a thread of its own.
    const auto save = [](const std::string &bytes) {
        return std::async(std::launch::async, ctl_save, base64_encode(bytes), nullptr);
    };
    const auto saved = [](const CtlOutput &got) { return got.status == 0 && got.out == "saved\n"; };
    for (int i = 0; i < rounds; ++i) {
        const std::string a = settings(1, 27, 22, 7, 40000, 38000, std::to_string(i), "a"),
                          b = refused
                                  ? "功率=x" + std::to_string(i)
                                  : settings(1, 27, 22, 7, 40000, 38000, std::to_string(i), "b");
        auto save_a = save(a), save_b = save(b);
        const CtlOutput got_a = save_a.get(), got_b = save_b.get();
        const std::string now = slurp(kSettingsFile);
        faults["a valid save not \"saved\""] += !saved(got_a) + (!refused && !saved(got_b));
        faults["the refused save not refused"] += refused && got_b.status != 1;
        faults["配置 holds neither valid file"] += now != a && (refused || now != b);
    }
    done = true;
    reader.join();
    faults["reads velmora would stop at"] = torn;
    faults["velmora stopped"] = waitpid(velmora, nullptr, WNOHANG) == velmora;
    end_velmora(velmora);
    return faults;
}

// Each round two start.sh at once in a BusyBox chroot of a phone tree (the
// module's scripts, the host's velmora and velmoractl), then every velmora
// killed until nothing runs there.
Faults starts_at_once(int rounds) {
    Faults faults;
    char name[] = "/tmp/velmora-stress-XXXXXX";
    const fs::path root = mkdtemp(name), module = root / "data/adb/modules/velmora";
    const std::string r = root.string();
    lay_out_host_chroot_phone(root);
    const std::string start = VELMORA_SOURCE_DIR "/tests/helpers/in-phone " + r +
                              " 'sh /data/adb/modules/velmora/start.sh'";
    const fs::path node = root / kOldChargeNode;
    for (int i = 0; i < rounds; ++i) {
        auto first = std::async(std::launch::async, system, start.c_str()),
             second = std::async(std::launch::async, system, start.c_str());
        first.wait(), second.wait();
        std::set<pid_t> velmoras;
        EXPECT_TRUE(wait_until([&] {
            for (const pid_t pid : in_phone(root, true)) velmoras.insert(pid), kill(pid, SIGTERM);
            return in_phone(root, false).empty();
        }));
        faults["velmoras started at once, not one"] += velmoras.size() != 1;
        faults["node not put back"] += slurp(node) != "3000000\n" || mode_of(node) != 0644;
        faults["not \"Stopped\""] +=
            slurp(module / "module.prop").find("\ndescription=已停止 / Stopped ") ==
            std::string::npos;
    }
    fs::remove_all(root);
    return faults;
}

// Each round a new boot whose first keep cannot write its record, velmora
// (x100: its first write at once) and a second keep 0 to 20 ms later, then
// velmora killed and restore: never to anything but the kernel's own node.
Faults keep_after_failed_keep(const fs::path &root, int rounds) {
    Faults faults;
    std::mt19937 random(22);
    for (int i = 0; i < rounds; ++i) {
        put(kBootIdFile, std::to_string(i) + "\n");
        put(kOldChargeNode, "3000000\n");        // mode 0644, as the kernel has it
        fs::create_directory(kChargerKeptFile);  // in the record's way
        EXPECT_NE(ctl_charger_keep().status, 0);
        fs::remove(kChargerKeptFile);
        const pid_t velmora = start_velmora(root, "2026-06-01 22:00:00");
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        (void)ctl_charger_keep();
        end_velmora(velmora);
        faults["restore put back velmora's limit"] +=
            ctl_charger_restore().status == 0 &&
            (slurp(kOldChargeNode) != "3000000\n" || mode_of(kOldChargeNode) != 0644);
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
        {"two start.sh, on four phones side by side", 200,
         [](int n) {
             std::vector<std::future<Faults>> phones;
             for (int i = 0; i < 4; ++i)
                 phones.push_back(std::async(std::launch::async, starts_at_once, n / 4));
             Faults all;
             for (auto &phone : phones) {
                 for (const auto &[what, count] : phone.get()) all[what] += count;
             }
             return all;
         }},
        {"keep after a failed first keep", 300,
         [&](int n) { return keep_after_failed_keep(root_, n); }},
    };
    for (const auto &row : rows) {
        const auto began = std::chrono::steady_clock::now();
        std::string counts;
        for (const auto &[what, count] : row.run(row.rounds)) {
            if (count != 0) counts += "; " + what + ": " + std::to_string(count);
        }
        printf("%s, %d rounds in %.0f s%s\n", row.name, row.rounds,
               std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count(),
               counts.empty() ? ": no fault" : counts.c_str());
        EXPECT_EQ(counts, "") << row.name;
    }
}

}  // namespace
