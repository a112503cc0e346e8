#include "core/terminal/working_folder.h"

#include "core/support/error.h"
#include "core/support/paths.h"
#include "core/terminal/controller_prod.h"
#include "platform/files.h"
#include "platform/folder_access.h"
#include "platform/machine_settings.h"

namespace qiv_start::core {
namespace {

const char* const kLogFolder = "logs";

}  // namespace

// The folders that a start writes before it reads the document; those of the terminals, which
// the launcher creates inside the working folder itself, are covered by it.
std::optional<std::string> foreign_working_folder() {
    if (platform::shared_folder_allowed())
        return std::nullopt;
    try {
        for (const std::string& folder :
             {std::string("."), native_path(kSettingsFolder), native_path(kLogFolder)}) {
            if (!platform::directory_exists(folder))
                continue;
            if (auto reason = platform::foreign_writer(folder))
                return reason;
        }
    } catch (const TError& failure) {
        return failure.what();
    }
    return std::nullopt;
}

}  // namespace qiv_start::core
