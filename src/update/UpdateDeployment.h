#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QUrl>

// The deployment's own values that decide which updates are trusted, kept in
// one place: the maker's hosts, the bundle identifier, the maker's signing
// key, and what the running copy is. production() gives the program's;
// tests make their own (a loopback host, a key they generated).
struct UpdateDeployment
{
    // Lower-case host names, compared exactly (no sub-domains).
    QSet<QString> allowedHosts;
    QString bundleIdentifier;
    // The maker's Ed25519 public key, 32 raw bytes.
    QByteArray signingPublicKey;
    // "CFBundleShortVersionString" and "CFBundleVersion" of the running copy.
    QString localVersion;
    QString localBuild;

    static inline const QString appBundleName = QStringLiteral("Brisko Vella.app");

    static UpdateDeployment production();

    // HTTPS, a host of the allow-list (lower-cased) and no user name or
    // password in the address.
    bool isTrusted(const QUrl& url) const;
    // bundleIdentifier + ".willRelaunchForUpdate"
    QString relaunchNotificationName() const;
};
