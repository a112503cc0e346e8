// An HTTP or HTTPS server on 127.0.0.1 for tests: serves named files and misbehaves on request.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace qiv_start::test {

// Listens on an ephemeral port from construction to destruction. Every path answers 404 until it
// is scripted; scripting may happen while the server runs.
class TTestHttpServer {
  public:
    enum TScheme { kHttp, kHttps };

    // keep_alive_seconds: how long an idle connection stays open. Short by default, so that an
    // idle client does not hold up stopping.
    explicit TTestHttpServer(TScheme scheme = kHttp, int keep_alive_seconds = 1);
    ~TTestHttpServer();
    TTestHttpServer(const TTestHttpServer&) = delete;
    TTestHttpServer& operator=(const TTestHttpServer&) = delete;

    // "http://127.0.0.1:PORT/" or "https://127.0.0.1:PORT/"; another host name in its place when
    // given (one that a test proxy maps to 127.0.0.1).
    std::string base_url(const std::string& host = "127.0.0.1") const;
    // HTTPS only: the authority that signed the server's certificate (PEM file).
    const std::string& ca_file() const;

    // Scripts match the request target exactly as sent, without decoding; a target that no script
    // names exactly is matched without its query.
    // HEAD and GET of "/" + name answer 200 with the bytes and their Content-Length.
    void serve(const std::string& name, std::string bytes);
    // The same without a Content-Length: the body goes out chunked.
    void serve_chunked(const std::string& name, std::string bytes);
    // HEAD announces `announced` bytes; GET sends all the bytes chunked, past that length.
    void serve_longer(const std::string& name, std::string bytes, std::size_t announced);
    // HEAD announces `announced` bytes; GET sends all the bytes chunked, short of that length.
    void serve_shorter(const std::string& name, std::string bytes, std::size_t announced);
    // Answers with the status (404, 500, ...) and a short error page.
    void fail(const std::string& name, int status);
    // Answers with the 3xx status and a Location header.
    void redirect(const std::string& name, int status, const std::string& location);
    // HEAD as serve(); GET announces the whole size, sends the first `sent` bytes and closes.
    void cut_short(const std::string& name, std::string bytes, std::size_t sent);
    // HEAD as serve(); GET sends the first `sent` bytes, then nothing until release_stalls()
    // (then the rest follows) or until the server stops (then the connection closes).
    void stall_body(const std::string& name, std::string bytes, std::size_t sent);
    // HEAD as serve(); GET announces the whole size and sends one byte every `period`, until the
    // end or until the server stops. With a validator, ranges are answered as serve_resumable's.
    void trickle(const std::string& name, std::string bytes, std::chrono::milliseconds period,
                 const std::string& validator = {});
    // HEAD and GET answer with the ETag validator. GET honours "Range: bytes=N-" when If-Range
    // names that validator and honour_ranges is set, with 206 and the rest; else it sends the
    // whole copy with 200. Each answer closes its connection after drop_every bytes of body
    // (0: never). A 206 answer names part_validator when one is given.
    void serve_resumable(const std::string& name, std::string bytes, const std::string& validator,
                         std::size_t drop_every = 0, bool honour_ranges = true,
                         const std::string& part_validator = {});
    // No answer at all, not even a status line, until release_stalls() (then 503) or the end.
    void stall_answer(const std::string& name);
    // Lets every stalled answer, present and future, go on.
    void release_stalls();

    // Requests received so far, in order, as method, blank and request target: "HEAD /a.txt";
    // a Range header follows after a blank: "GET /a.txt bytes=100-".
    std::vector<std::string> requests() const;
    // Client connections that have sent a request so far.
    std::size_t connections() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qiv_start::test
