#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// Ed25519 signatures of update bundles, through OpenSSL. The program only
// verifies, with the maker's 32-byte raw public key; the release tool signs
// with the private key in a PEM file that never leaves the maker.
namespace UpdateSignature {
bool verify(QByteArrayView message, QByteArrayView signature, QByteArrayView publicKey);
// The 64-byte signature, or nothing with error set.
std::optional<QByteArray> sign(QByteArrayView message, const QByteArray& privateKeyPem, QString* error);
// The raw public half of a PEM private key.
std::optional<QByteArray> publicKeyOf(const QByteArray& privateKeyPem, QString* error);
} // namespace UpdateSignature
