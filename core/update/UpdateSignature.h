#pragma once

#include <QByteArray>
#include <QString>

namespace ow {

// Tells whether a downloaded file is the one its publisher signed: an Ed25519 signature
// over the file's bytes, checked against the publisher's raw public key.
class UpdateSignature {
public:
    static constexpr qsizetype kPublicKeyBytes = 32;
    static constexpr qsizetype kSignatureBytes = 64;

    UpdateSignature() = delete;

    // The system's OpenSSL, loaded only for the check.
    static constexpr const char* kCryptoLibrary = "libcrypto.so.3";

    // False also when the key or the signature has the wrong size, the file cannot be read
    // or cryptoLibrary cannot be loaded or lacks a function the check needs.
    static bool verifies(const QByteArray& publicKey, const QByteArray& signature, const QString& path,
                         const char* cryptoLibrary = kCryptoLibrary);
};

} // namespace ow
