#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include "base/Outcome.h"

// Ed25519 signatures of update bundles, through OpenSSL. The program only
// verifies, with the maker's 32-byte raw public key; the release tool signs
// with the private key in a PEM file that never leaves the maker.
namespace UpdateSignature {
bool verify(QByteArrayView message, QByteArrayView signature, QByteArrayView publicKey);
// The 64-byte signature.
Outcome<QByteArray> sign(QByteArrayView message, const QByteArray& privateKeyPem);
// The raw public half of a PEM private key.
Outcome<QByteArray> publicKeyOf(const QByteArray& privateKeyPem);
} // namespace UpdateSignature
