// A launcher that its users cannot change (installed for the whole workstation into a folder that
// only administrators write) is a seed: it never works in its own folder. It prepares the user's
// own working folder with a copy of itself, and that copy checks, synchronises, updates itself and
// starts the terminals there, so that no user's files are another user's to replace.
#pragma once

#include <optional>
#include <string>

namespace qiv_start::core {

struct TUserCopy {
    std::string folder;    // the user's working folder
    std::string launcher;  // the user's launcher in it
};

// Nothing when the launcher at executable_path may write its own folder: it works there itself.
// Otherwise the user's working folder, made private when it is missing, with
// - a copy of the launcher, when it has none; a copy of another version is the user's copy
//   under its own self-update, which brings it to the published launcher;
// - config/servers.cfg from the seed's folder, when the user has none and the seed's folder has
//   one (otherwise the copy's first start writes it from the administrator's servers);
// - config/release_serial raised to the seed's floor: the administrator's setting or the seed's
//   folder's own config/release_serial, whichever is higher.
// Raises TError with the reason shown to the user.
std::optional<TUserCopy> prepare_user_copy(const std::string& executable_path);

}  // namespace qiv_start::core
