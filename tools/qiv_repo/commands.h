// The administrator's tasks, each callable on its own with its options.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "qiv_repo/console.h"

namespace qiv_start::repo {

struct TNewOptions {
    std::string directory;
    std::vector<std::string> servers;
};
// A new repository folder: server list, a document without terminals, the download page.
int run_new(const TNewOptions& options, TConsole& console);

struct THashOptions {
    std::string directory;
    std::string launcher;  // empty: the document's own digest stays as it is
    bool dry_run = false;
    unsigned threads = 0;  // 0: one per processor core
    bool sha256 = false;   // add <sha256> to every file entry (present ones are always refreshed)
};
// Writes every file's digest into the document.
int run_hash(const THashOptions& options, TConsole& console);

struct TCheckOptions {
    std::string directory;
    std::vector<std::string> public_keys;  // with any: the release must verify with one
};
// Everything in the folder that a workstation would trip over.
int run_check(const TCheckOptions& options, TConsole& console);

struct TVerifyOptions {
    std::string url;
    std::string ca_file;                   // empty: the system's certificate store
    std::vector<std::string> public_keys;  // with any: each server's release is verified too
};
// Fetches every file from every server of the repository and compares it with the document.
int run_verify(const TVerifyOptions& options, TConsole& console);

struct TAccessOptions {
    std::string source;  // folder or base address
    std::string ip;
    std::string ca_file;
};
// The terminals that a workstation with the address may start, with the rule for each.
int run_access(const TAccessOptions& options, TConsole& console);

struct TKeygenOptions {
    std::string key_file;
};
// A new signing key: the private key to the file, for its owner alone; the public key printed.
int run_keygen(const TKeygenOptions& options, TConsole& console);

struct TSignOptions {
    std::string directory;
    std::vector<std::string> key_files;
    std::optional<std::string> expires_days;  // as written; run_sign reads the number
    std::optional<std::string> serial;
    bool first = false;  // the folder's first release, numbered 1
};
// The release record of the folder's server list and document, signed with every key.
int run_sign(const TSignOptions& options, TConsole& console);

struct TPublishOptions {
    std::string directory;
    std::vector<std::string> key_files;  // none: an unsigned record
    std::optional<std::string> expires_days;
    std::string launcher;  // as hash --launcher
    bool no_store = false;
};
// The whole publish of the folder's current state: digests, objects, the kept release, the record.
int run_publish(const TPublishOptions& options, TConsole& console);

struct THistoryOptions {
    std::string directory;
};
// The kept releases, one line each.
int run_history(const THistoryOptions& options, TConsole& console);

struct TRollbackOptions {
    std::string directory;
    std::string to;  // the serial whose files come back
    std::vector<std::string> key_files;
    std::optional<std::string> expires_days;
};
// A new release with the document and server list of an earlier one.
int run_rollback(const TRollbackOptions& options, TConsole& console);

struct TGcOptions {
    std::string directory;
    std::string keep;
    bool dry_run = false;
};
// Removes the objects that none of the last releases names.
int run_gc(const TGcOptions& options, TConsole& console);

struct TPushOptions {
    std::string directory;
    std::vector<std::string> destinations;  // local folders or rsync destinations
    std::string url;                        // verified afterwards when given
    std::string ca_file;
};
// Copies the repository to each mirror, its release record last.
int run_push(const TPushOptions& options, TConsole& console);

}  // namespace qiv_start::repo
