#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace qm {

// The instance's web page, from the web.conf of its folder (keys without a
// section, read as mqtt.conf is read).
struct WebConfig {
    int port = 8080;
    QByteArray bind = "127.0.0.1"; // an IPv4 or IPv6 address
    QString user = QStringLiteral("quellmark");
    QString password;             // empty: no password, only on loopback
    QByteArray certFile, keyFile; // paths, as bytes; both or neither (TLS)
    QStringList unknownKeys;      // reported, not used
    bool tls() const { return !certFile.isEmpty(); }
};

// A loopback address: 127.0.0.0/8 or ::1; false for anything else, for an
// address that is none too.
bool isLoopback(const QByteArray& address);

// Nothing (and no error) without the file; an error naming web.conf and the
// key (or the line) when the file cannot be used: no page is served then.
// Listening beyond loopback without a password is such an error.
struct WebSetup {
    std::optional<WebConfig> config;
    QString error;
};
WebSetup readWebConfig(const QByteArray& path);

} // namespace qm
