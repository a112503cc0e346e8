#include "support/nginx_front.h"

#include <cstdlib>
#include <set>
#include <sstream>
#include <stdexcept>

#include "support/shell.h"
#include "support/temp_dir.h"

namespace qiv_start::test {
namespace {

namespace fs = std::filesystem;

std::string nginx_serve() {
    return "bash " + script("scripts/nginx-serve");
}

}  // namespace

TNginxFront::TNginxFront(const std::string& upstream, const TTestCertificates& certificates,
                         fs::path run_dir)
    : run_dir_(std::move(run_dir)) {
    fs::create_directories(run_dir_);
    // Without a path after the server, nginx passes each request target on as it came.
    const std::string server = upstream.substr(0, upstream.find_last_not_of('/') + 1);
    const std::string command = "NGINX_HTTP2=on NGINX_UPSTREAM=" + server + " " + nginx_serve() +
                                " start " + test::quoted(run_dir_) + " " + test::quoted(run_dir_) +
                                " " + test::quoted(certificates.cert_file) + " " +
                                test::quoted(certificates.key_file) + " >" +
                                test::quoted(run_dir_ / "port");
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("nginx did not start in " + run_dir_.string());
    port_ = read_bytes(run_dir_ / "port");
    port_.erase(port_.find_last_not_of("\r\n") + 1);
}

TNginxFront::~TNginxFront() {
    const std::string command = nginx_serve() + " stop " + test::quoted(run_dir_);
    static_cast<void>(std::system(command.c_str()));
}

std::size_t TNginxFront::connections() const {
    std::istringstream lines(read_bytes(run_dir_ / "connections.log"));
    std::set<std::string> seen;
    for (std::string line; std::getline(lines, line);)
        seen.insert(line);
    return seen.size();
}

}  // namespace qiv_start::test
