#pragma once

#include <QByteArray>

#include <utility>
#include <vector>

namespace qm {

// A request as the page's routes see it: the path already decoded and
// checked (no NUL byte), the query as sent.
struct HttpRequest {
    QByteArray method, path, query, body;
    QByteArray origin, fetchSite, host, csrfToken, contentType;
    bool authenticated = false; // a password is set and was given
    bool passwordSet = false;
};

struct HttpResponse {
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
    std::vector<std::pair<QByteArray, QByteArray>> headers;
    bool cacheable = false; // a static file of the page
    static HttpResponse json(int status, QByteArray body)
    {
        return {status, "application/json", std::move(body), {}, false};
    }
    static HttpResponse text(int status, QByteArray body)
    {
        return {status, "text/plain; charset=utf-8", std::move(body), {}, false};
    }
};

// The path of a request target, percent-decoded; nothing for a target that
// is not a path, holds a NUL byte or a malformed escape.
bool decodePath(const QByteArray& raw, QByteArray& path, QByteArray& query);
// The value of `key` in a query or form body ("a=1&b=2"), decoded ('+' is a
// blank); `found` tells whether it was there.
QByteArray formValue(const QByteArray& form, const QByteArray& key, bool* found = nullptr);
// Every key=value pair of a form body, decoded, in order; false for a
// malformed escape.
bool formPairs(const QByteArray& form, std::vector<std::pair<QByteArray, QByteArray>>& out);

} // namespace qm
