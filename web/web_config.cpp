#include "web/web_config.h"

#include "base/files.h"
#include "base/ini_file.h"

#include <arpa/inet.h>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

const QString kFile = QStringLiteral("web.conf");
constexpr std::size_t kMaxFileSize = 64 * 1024;

bool readable(const QByteArray& path)
{
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.constData(), R_OK) == 0;
}

bool isAddress(const QByteArray& address)
{
    unsigned char buf[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, address.constData(), buf) == 1 ||
           ::inet_pton(AF_INET6, address.constData(), buf) == 1;
}

void readListening(IniReader& r, WebConfig& c)
{
    c.port = r.number("port", 8080, 1, 65535);
    if (r.has("bind"))
        c.bind = r.bytes("bind");
    if (!isAddress(c.bind))
        r.fail(QStringLiteral("web.conf: bind must be an IPv4 or IPv6 address, not \"%1\"")
                   .arg(QString::fromUtf8(c.bind)));
    c.certFile = r.bytes("cert_file");
    c.keyFile = r.bytes("key_file");
    for (const char* key : {"cert_file", "key_file"})
        if (!r.bytes(key).isEmpty() && !readable(r.bytes(key)))
            r.fail(QStringLiteral("web.conf: %1 %2 cannot be read")
                       .arg(QLatin1String(key), QString::fromUtf8(r.bytes(key))));
    if (c.certFile.isEmpty() != c.keyFile.isEmpty())
        r.fail(c.keyFile.isEmpty() ? QStringLiteral("web.conf: cert_file needs its key_file")
                                   : QStringLiteral("web.conf: key_file needs its cert_file"));
}

void readLogin(IniReader& r, WebConfig& c)
{
    if (r.has("user"))
        c.user = r.text("user");
    if (c.user.isEmpty() || c.user.contains(QLatin1Char(':')))
        r.fail(QStringLiteral("web.conf: user must be a name without \":\""));
    c.password = r.secret("password_file");
    if (r.has("password_file") && c.password.isEmpty())
        r.fail(QStringLiteral("web.conf: password_file %1 holds no password on its first line")
                   .arg(QString::fromUtf8(r.bytes("password_file"))));
    if (c.password.isEmpty() && !isLoopback(c.bind))
        r.fail(QStringLiteral("web.conf: listening on %1 needs a password (password_file); "
                              "without one only 127.0.0.1 or ::1")
                   .arg(QString::fromUtf8(c.bind)));
}

} // namespace

bool isLoopback(const QByteArray& address)
{
    in_addr v4{};
    if (::inet_pton(AF_INET, address.constData(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return ::inet_pton(AF_INET6, address.constData(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

bool isLoopbackHost(const QByteArray& host)
{
    QByteArray name = host;
    if (name.startsWith('[')) {
        name = name.mid(1, name.indexOf(']') - 1);
    } else if (name.count(':') == 1) {
        name = name.left(name.indexOf(':'));
    }
    return name == "localhost" || isLoopback(name);
}

WebSetup readWebConfig(const QByteArray& path)
{
    WebSetup out;
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 && errno == ENOENT)
        return out;
    QString& error = out.error;
    const std::optional<std::string> text = readConfigText(
        path, QStringLiteral("web.conf"), kMaxFileSize, QStringLiteral("64 KiB"), error);
    if (!text)
        return out;
    const std::optional<Ini> ini = parseIni(QByteArray::fromStdString(*text), error, kFile);
    if (!ini)
        return out;
    IniReader r(*ini, error, kFile);
    WebConfig c;
    static const QList<QByteArray> known = {"port",          "bind",      "user",
                                            "password_file", "cert_file", "key_file"};
    for (const auto& [key, value] : *ini)
        if (!known.contains(key))
            c.unknownKeys << QString::fromUtf8(key);
    readListening(r, c);
    readLogin(r, c);
    if (error.isEmpty())
        out.config = c;
    return out;
}

} // namespace qm
