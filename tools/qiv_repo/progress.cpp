#include "qiv_repo/progress.h"

#include <cstdio>

namespace qiv_start::repo {
namespace {

constexpr int kBarWidth = 30;

}  // namespace

void TTransferProgress::begin(const std::string& what) {
    what_ = what;
    update(0, -1);
}

void TTransferProgress::update(std::int64_t received, std::int64_t size) {
    if (!console_.interactive)
        return;
    const int percent = size > 0 ? static_cast<int>(received * 100 / size) : 0;
    const int filled = percent * kBarWidth / 100;
    console_.err << "\r\033[K[" << std::string(static_cast<std::size_t>(filled), '#')
                 << std::string(static_cast<std::size_t>(kBarWidth - filled), '-') << "] "
                 << done_ + 1 << "/" << total_ << " " << what_ << " " << human_size(received)
                 << std::flush;
    bar_shown_ = true;
}

void TTransferProgress::end(const std::string& outcome, bool problem) {
    ++done_;
    clear_bar();
    if (problem || !console_.interactive)
        console_.out << what_ << ": " << outcome << "\n" << std::flush;
}

void TTransferProgress::clear_bar() {
    if (bar_shown_)
        console_.err << "\r\033[K" << std::flush;
    bar_shown_ = false;
}

std::string human_size(std::int64_t bytes) {
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

}  // namespace qiv_start::repo
