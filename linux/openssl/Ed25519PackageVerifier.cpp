#include "linux/openssl/Ed25519PackageVerifier.h"

#include <openssl/evp.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace orvan {
namespace {

// Standard base64 with padding; nothing when the text is not that.
std::optional<std::vector<unsigned char>> decodeBase64(const std::string& text) {
    if (text.empty() || text.size() % 4 != 0) return std::nullopt;
    std::vector<unsigned char> bytes(text.size() / 4 * 3);
    const int length = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (length < 0) return std::nullopt;
    // EVP_DecodeBlock counts the padding as zero bytes.
    std::size_t padding = 0;
    for (auto it = text.rbegin(); it != text.rend() && *it == '=' && padding < 2; ++it) ++padding;
    bytes.resize(static_cast<std::size_t>(length) - padding);
    return bytes;
}

}  // namespace

std::optional<std::string> Ed25519PackageVerifier::verify(const std::filesystem::path& file, const std::string& signature,
                                                          const std::string& publicKey) {
    const auto key = decodeBase64(publicKey);
    if (!key || key->size() != 32) return std::string("公開鍵が正しくありません");
    const auto signed_ = decodeBase64(signature);
    if (!signed_ || signed_->size() != 64) return std::string("署名の形式が正しくありません");
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::string("ファイルを読めません");
    const std::vector<unsigned char> content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::string("ファイルを読めません");

    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key->data(), key->size()), &EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!pkey || !context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) {
        return std::string("公開鍵が正しくありません");
    }
    // Ed25519 signs the whole message at once.
    if (EVP_DigestVerify(context.get(), signed_->data(), signed_->size(), content.data(), content.size()) != 1) {
        return std::string("署名が一致しません");
    }
    return std::nullopt;
}

}  // namespace orvan
