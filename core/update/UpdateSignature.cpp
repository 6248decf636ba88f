#include "UpdateSignature.h"

#include <QFile>

#include <openssl/err.h>
#include <openssl/evp.h>

#include <dlfcn.h>

#include <memory>

namespace ow {

namespace {

const unsigned char* bytes(const QByteArray& array)
{
    return reinterpret_cast<const unsigned char*>(array.constData());
}

// libcrypto is loaded for the first signature check, not at launch: a lock never needs its
// megabyte and a half. It is linked NODELETE, so once loaded it stays despite dlclose.
// The types come from OpenSSL's header, so calls through these pointers are checked as
// linked calls would be.
struct Crypto {
    explicit Crypto(const char* library)
        : handle(dlopen(library, RTLD_NOW | RTLD_LOCAL))
    {
        complete = resolve(newRawPublicKey, "EVP_PKEY_new_raw_public_key") && resolve(freeKey, "EVP_PKEY_free")
            && resolve(newContext, "EVP_MD_CTX_new") && resolve(freeContext, "EVP_MD_CTX_free")
            && resolve(verifyInit, "EVP_DigestVerifyInit") && resolve(verify, "EVP_DigestVerify")
            && resolve(clearError, "ERR_clear_error");
    }
    ~Crypto()
    {
        if (handle != nullptr)
            dlclose(handle);
    }
    Crypto(const Crypto&) = delete;
    Crypto& operator=(const Crypto&) = delete;

    template <typename Function>
    bool resolve(Function*& function, const char* name)
    {
        function = handle != nullptr ? reinterpret_cast<Function*>(dlsym(handle, name)) : nullptr;
        return function != nullptr;
    }

    void* handle;
    bool complete = false;
    decltype(EVP_PKEY_new_raw_public_key)* newRawPublicKey = nullptr;
    decltype(EVP_PKEY_free)* freeKey = nullptr;
    decltype(EVP_MD_CTX_new)* newContext = nullptr;
    decltype(EVP_MD_CTX_free)* freeContext = nullptr;
    decltype(EVP_DigestVerifyInit)* verifyInit = nullptr;
    decltype(EVP_DigestVerify)* verify = nullptr;
    decltype(ERR_clear_error)* clearError = nullptr;
};

bool verifiesWith(const Crypto& crypto, const QByteArray& publicKey, const QByteArray& signature,
                  const unsigned char* data, std::size_t size)
{
    const std::unique_ptr<EVP_PKEY, decltype(crypto.freeKey)> key(
        crypto.newRawPublicKey(EVP_PKEY_ED25519, nullptr, bytes(publicKey), std::size_t(publicKey.size())),
        crypto.freeKey);
    const std::unique_ptr<EVP_MD_CTX, decltype(crypto.freeContext)> context(crypto.newContext(), crypto.freeContext);
    const bool verified = key && context
        && crypto.verifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1
        && crypto.verify(context.get(), bytes(signature), std::size_t(signature.size()), data, size) == 1;
    // A failed check leaves its reasons queued; nothing else here reads them.
    crypto.clearError();
    return verified;
}

} // namespace

bool UpdateSignature::verifies(const QByteArray& publicKey, const QByteArray& signature, const QString& path,
                               const char* cryptoLibrary)
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
    const Crypto crypto(cryptoLibrary);
    return crypto.complete && verifiesWith(crypto, publicKey, signature, data, std::size_t(size));
}

} // namespace ow
