// Any request target and form body: no crash; a decoded path never holds a
// NUL byte, and no name but a listed one is ever found in the log folder.
#include "web/http_types.h"
#include "web/log_files.h"
#include "web/trend_json.h"

#include <cstdlib>

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    QByteArray path, query;
    const bool decoded = decodePath(input, path, query);
    if (decoded && path.contains('\0'))
        std::abort();
    std::vector<std::pair<QByteArray, QByteArray>> pairs;
    formPairs(input, pairs);
    TrendQuery q;
    QString error;
    if (parseTrendQuery(input, q, error) && (q.spanS < 600 || q.spanS > 2592000))
        std::abort();
    static const std::vector<LogFile> listed = {{"250312.txt", QDate(2025, 3, 12), 1}};
    const LogFile* f =
        decoded && path.startsWith("/logs/") ? findLogFile(listed, path.mid(6)) : nullptr;
    if (f && path != "/logs/250312.txt")
        std::abort();
    return 0;
}
