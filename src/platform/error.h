// Errors raised by the platform layer and, through core/error.h, by the whole launcher.
#pragma once

#include <stdexcept>
#include <string>

namespace qiv_start::platform {

// Every error carries the text that is shown to people or written to a log.
class TError : public std::runtime_error {
  public:
    explicit TError(const std::string& message) : std::runtime_error(message) {}
};

// A file or device operation failed; the message names the file and the system's reason.
class TIoError : public TError {
  public:
    explicit TIoError(const std::string& message) : TError(message) {}
};

// The file is open in another program in a way that forbids replacing or deleting it.
class TFileInUseError : public TIoError {
  public:
    explicit TFileInUseError(const std::string& message) : TIoError(message) {}
};

// A file that was to be created anew exists already.
class TFileExistsError : public TIoError {
  public:
    explicit TFileExistsError(const std::string& message) : TIoError(message) {}
};

}  // namespace qiv_start::platform
