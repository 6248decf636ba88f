#pragma once

#include "HttpClient.h"

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <chrono>
#include <optional>
#include <utility>

namespace ow {

// How OrbinWash and orbinwash-fetch talk: one request per run of the helper.
//
//   orbinwash-fetch post     <url> <timeout ms> <user agent>                     (the body on stdin)
//   orbinwash-fetch get      <url> <timeout ms> <user agent> <max bytes>
//   orbinwash-fetch download <url> <timeout ms> <user agent> <max bytes> <path>
//
// The timeouts and limits are HttpClient's. The helper answers on stdout with records, each
// a tag letter, a space, the payload's length in decimal, a line feed and the payload:
//
//   h  empty, at once and then every kHeartbeatInterval while the request runs: the helper lives
//   e  the end, once: "<delivered 0|1> <status>" for a post, a fetchName for a GET
//   b  after e, the body of a delivered post or of a complete get
//
// and exits with status 0. Anything else, an exit without e or a death, is no answer.
struct FetchWire {
    static constexpr char kHeartbeat = 'h';
    static constexpr char kEnd = 'e';
    static constexpr char kBody = 'b';
    static constexpr std::chrono::milliseconds kHeartbeatInterval{250};

    static constexpr std::array<std::pair<HttpClient::Fetch, const char*>, 5> kFetchNames{{
        {HttpClient::Fetch::Complete, "complete"},
        {HttpClient::Fetch::NoConnection, "no-connection"},
        {HttpClient::Fetch::NotFound, "not-found"},
        {HttpClient::Fetch::Redirected, "redirected"},
        {HttpClient::Fetch::Failed, "failed"},
    }};

    static QByteArray fetchName(HttpClient::Fetch end)
    {
        for (const auto& [fetch, name] : kFetchNames) {
            if (fetch == end)
                return name;
        }
        return {};
    }
    static std::optional<HttpClient::Fetch> fetchNamed(QByteArrayView name)
    {
        for (const auto& [fetch, known] : kFetchNames) {
            if (name == known)
                return fetch;
        }
        return std::nullopt;
    }
};

} // namespace ow
