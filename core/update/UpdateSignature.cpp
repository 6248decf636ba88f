#include "UpdateSignature.h"

#include <QFile>

#include <openssl/err.h>
#include <openssl/evp.h>

#include <memory>

namespace ow {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

const unsigned char* bytes(const QByteArray& array)
{
    return reinterpret_cast<const unsigned char*>(array.constData());
}

} // namespace

bool UpdateSignature::verifies(const QByteArray& publicKey, const QByteArray& signature, const QString& path)
{
    if (publicKey.size() != kPublicKeyBytes || signature.size() != kSignatureBytes)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // Ed25519 signs the whole message at once; mapped, a large package is not copied.
    static const unsigned char kNothing = 0;
    const qint64 size = file.size();
    const unsigned char* data = size > 0 ? file.map(0, size) : &kNothing;
    if (data == nullptr)
        return false;

    const Key key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, bytes(publicKey), std::size_t(publicKey.size())),
        &EVP_PKEY_free);
    const DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    const bool verified = key && context
        && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1
        && EVP_DigestVerify(context.get(), bytes(signature), std::size_t(signature.size()), data,
                            std::size_t(size))
            == 1;
    // A failed check leaves its reasons queued; nothing else here reads them.
    ERR_clear_error();
    return verified;
}

} // namespace ow
