#include "core/support/auto_file_listener.h"

#include "core/support/error.h"
#include "core/support/format.h"
#include "core/support/paths.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace qiv_start::core {
namespace {

const char* const kLogFolder = "logs";
const char* const kLogFolderFailed = "Błąd podczas zakładania folderu logów: ";
const char* const kLogFolderOutside = "folder logs leży poza katalogiem roboczym";
constexpr int kMaxLogAttempts = 100;

std::string digits(int number, std::size_t width) {
    std::string text = std::to_string(number);
    if (text.size() < width)
        text.insert(0, width - text.size(), '0');
    return text;
}

// "yyyymmdd_hhnnsszzz"
std::string time_stamp(const platform::TLocalTime& t) {
    return digits(t.year, 4) + digits(t.month, 2) + digits(t.day, 2) + "_" + digits(t.hour, 2) +
           digits(t.minute, 2) + digits(t.second, 2) + digits(t.millisecond, 3);
}

// A refusal to create the folder shows when the file cannot be created in it. A link in its
// place that leads out of the working folder is refused: the logs would go elsewhere.
void create_log_folder() {
    std::string folder;
    try {
        folder = platform::full_path(native_path(kLogFolder));
    } catch (const TError& e) {
        throw TError(kLogFolderFailed + std::string(e.what()));
    }
    if (!resolve_inside(kLogFolder))
        throw TError(kLogFolderFailed + std::string(kLogFolderOutside));
    platform::create_directories(folder);
}

// Where no log can be made.
class TNoLog : public TCoreListener {
  public:
    void notify(const TCoreMessage& /*messageContent*/) override {}
};

// Another launcher started in the same millisecond keeps its own log: the second one made takes
// the name with "_1", and so on.
std::unique_ptr<platform::TLogFile> create_new_log(const std::string& name) {
    for (int attempt = 0;; ++attempt) {
        std::string path = name;
        if (attempt > 0)
            path.append("_").append(std::to_string(attempt));
        try {
            return std::make_unique<platform::TLogFile>(native_path(path.append(".log")));
        } catch (const platform::TFileExistsError&) {
            if (attempt == kMaxLogAttempts)
                throw;
        }
    }
}

}  // namespace

TAutoFileListener::TAutoFileListener() : TAutoFileListener("qiv_start") {}

TAutoFileListener::TAutoFileListener(const std::string& file_prefix) {
    create_log_folder();
    const std::string name =
        format("logs\\%0:s_%1:s", {file_prefix, time_stamp(platform::local_time_now())});
    writer_ = create_new_log(name);
}

TAutoFileListener::~TAutoFileListener() = default;

void TAutoFileListener::notify(const TCoreMessage& messageContent) {
    writer_->write(messageContent.to_string() + "\r\n");
}

std::shared_ptr<TCoreListener> open_run_log(const std::string& file_prefix) {
    try {
        return std::make_shared<TAutoFileListener>(file_prefix);
    } catch (const TIoError&) {
        return std::make_shared<TNoLog>();
    }
}

}  // namespace qiv_start::core
