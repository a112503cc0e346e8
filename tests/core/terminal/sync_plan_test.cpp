#include "core/terminal/sync_plan.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/support/windows_names.h"
#include "core/terminal/look_ahead.h"

namespace qiv_start::core {
namespace {

using TParts = std::vector<std::string>;

constexpr std::size_t kNone = TLookAhead::kNoPredecessor;

// The order by its definition, each file against every earlier one.
std::optional<TParts> reference_parts(const std::string& path) {
    TParts parts;
    std::string part;
    for (std::size_t at = 0; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/' && path[at] != '\\') {
            part += path[at];
            continue;
        }
        if (part == "..") {
            if (parts.empty())
                return std::nullopt;
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(windows_name_key(part));
        }
        part.clear();
    }
    std::erase(parts, "");
    return parts;
}

bool within(const TParts& path, const TParts& folder) {
    return folder.size() <= path.size() && std::equal(folder.begin(), folder.end(), path.begin());
}

std::vector<std::size_t> reference_predecessors(const std::vector<TPlannedFile>& files) {
    std::vector<std::size_t> result(files.size(), kNone);
    for (std::size_t later = 0; later < files.size(); ++later) {
        const auto path = reference_parts(files[later].local_path);
        for (std::size_t earlier = 0; earlier < later; ++earlier) {
            const auto other = reference_parts(files[earlier].local_path);
            const auto folder = reference_parts(files[earlier].target_path);
            if (!files[earlier].readable || !path || !other || !folder || within(*path, *other) ||
                within(*other, *path) || (files[earlier].unzip && within(*path, *folder)))
                result[later] = earlier;
        }
    }
    return result;
}

// Random plans over a few short names, so that equal paths, folders of one another, archives'
// folders, climbs out and unreadable entries all meet often.
TEST(SyncPlan, OrdersLikeTheComparisonOfEveryPair) {
    const std::vector<std::string> names{"a", "A", "a.", "ą", "Ą", "..", ".", "", "...", "kat"};
    std::mt19937 random(20240611);
    const auto pick = [&](std::size_t count) { return random() % count; };
    const auto path = [&] {
        std::string text = names[pick(names.size())];
        for (std::size_t depth = pick(4); depth > 0; --depth)
            text += (pick(2) ? "\\" : "/") + names[pick(names.size())];
        return text;
    };
    for (int round = 0; round < 300; ++round) {
        std::vector<TPlannedFile> files(1 + pick(40));
        for (auto& file : files) {
            file.target_path = path();
            file.local_path = pick(5) ? file.target_path + "\\" + path() : path();
            file.readable = pick(12) != 0;
            file.unzip = pick(4) == 0;
        }
        ASSERT_EQ(predecessors(files), reference_predecessors(files)) << "round " << round;
    }
}

// Two names that are one file on Windows wait for each other; names that only look alike do not.
TEST(SyncPlan, NamesThatAreOneFileOnWindowsAreTakenInOrder) {
    struct TCase {
        const char* earlier;
        const char* later;
        bool one_file;
    };
    const TCase cases[] = {
        {"dane\\Ą.dll", "DANE/ą.dll", true},
        {"żółć.txt", "ŻÓŁĆ.TXT", true},
        {"ÿ", "Ÿ", true},
        {"ǆ.ini", "Ǆ.ini", true},
        {"ωμέγα", "ΩΜΈΓΑ", true},
        {"Файл.exe", "ФАЙЛ.EXE", true},
        {"a.dll", "a.dll.", true},
        {"a.dll", "a.dll . .", true},
        {"dane. \\a.dll", "dane\\A.DLL", true},
        {"dane\\...\\a", "dane\\a", true},
        {"\xC4.dll", "\xFF\xFE.dll", true},  // not UTF-8: replacement characters on Windows
        {"ą.dll", "a.dll", false},
        {"ß", "SS", false},
        {"\u212A", "k", false},  // the Kelvin sign is upper case already
        {"a b", "ab", false},
        {".a", "a", false},
        {"dane.x\\a", "dane\\a", false},
    };
    for (const auto& [earlier, later, one_file] : cases) {
        std::vector<TPlannedFile> files(2);
        files[0].local_path = earlier;
        files[1].local_path = later;
        files[0].readable = files[1].readable = true;
        EXPECT_EQ(predecessors(files)[1], one_file ? 0 : kNone) << earlier << " / " << later;
    }
}

}  // namespace
}  // namespace qiv_start::core
