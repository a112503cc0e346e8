// Temporary files that a killed run left behind, removed by the next run that holds the folder.
#pragma once

#include <string>
#include <vector>

#include "core/terminal/synchroniser.h"

namespace qiv_start::core {

// Removes every file named as an atomic writer names its temporary files from the folders that
// the launcher writes: those of the sections' files, those that their archives extract into and
// the other folders given (native form, empty for the working folder). A configured file or an
// archive's member stays, whatever its name, and so does one that cannot be removed. So does an
// interrupted download of a configured file, with its record, while it may be resumed
// (kept_download); one whose record is missing, spoilt or too old goes. Only for the
// holder of the working folder's lock: another launcher's files under way would go too.
void remove_leftovers(const std::vector<TFileSection>& sections,
                      const std::vector<std::string>& other_folders);

}  // namespace qiv_start::core
