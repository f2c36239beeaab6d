#include "linux/openssl/Ed25519PackageVerifier.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>
#include <variant>
#include <vector>

#include "platform/PrivateFiles.h"

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

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    bool close() {
        const int fd = std::exchange(fd_, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

// The SHA-512 digest of `in`, whose bytes are written to `out` as they are read.
std::variant<std::vector<unsigned char>, std::string> digestCopying(int in, int out) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> digest(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!digest || EVP_DigestInit_ex(digest.get(), EVP_sha512(), nullptr) != 1) return std::string("SHA-512 を使えません");
    std::vector<unsigned char> buffer(64 * 1024);
    for (;;) {
        const ssize_t read = ::read(in, buffer.data(), buffer.size());
        if (read < 0 && errno == EINTR) continue;
        if (read < 0) return std::string("ファイルを読めません: ") + std::strerror(errno);
        if (read == 0) break;
        const auto size = static_cast<std::size_t>(read);
        EVP_DigestUpdate(digest.get(), buffer.data(), size);
        const std::string_view bytes(reinterpret_cast<const char*>(buffer.data()), size);
        if (const auto error = private_files::writeAll(out, bytes)) {
            return "ファイルを書き出せません: " + error.message();
        }
    }
    std::vector<unsigned char> value(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    EVP_DigestFinal_ex(digest.get(), value.data(), &length);
    value.resize(length);
    return value;
}

std::optional<std::string> verifyCopyOrFail(const std::filesystem::path& file, const std::string& version,
                                            const std::string& signature, const std::string& publicKey,
                                            const std::filesystem::path& copy, bool& created) {
    const auto key = decodeBase64(publicKey);
    if (!key || key->size() != 32) return std::string("公開鍵が正しくありません");
    const auto signed_ = decodeBase64(signature);
    if (!signed_ || signed_->size() != 64) return std::string("署名の形式が正しくありません");
    Descriptor in(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (in.get() < 0) return std::string("ファイルを読めません: ") + std::strerror(errno);
    // A new file only: nothing put there beforehand is written through.
    Descriptor out(private_files::open(copy, O_WRONLY | O_EXCL));
    if (out.get() < 0) return std::string("ファイルを書き出せません: ") + std::strerror(errno);
    created = true;
    auto digest = digestCopying(in.get(), out.get());
    if (const auto* failure = std::get_if<std::string>(&digest)) return *failure;
    if (!out.close()) return std::string("ファイルを書き出せません: ") + std::strerror(errno);

    std::vector<unsigned char> message(version.begin(), version.end());
    message.push_back(0);
    const auto& value = std::get<std::vector<unsigned char>>(digest);
    message.insert(message.end(), value.begin(), value.end());
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key->data(), key->size()), &EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!pkey || !context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) {
        return std::string("公開鍵が正しくありません");
    }
    if (EVP_DigestVerify(context.get(), signed_->data(), signed_->size(), message.data(), message.size()) != 1) {
        return std::string("署名が一致しません");
    }
    return std::nullopt;
}

// What the thread is given and hands back: values of its own, nothing the caller may free meanwhile.
struct Job {
    std::filesystem::path file;
    std::string version;
    std::string signature;
    std::string publicKey;
    std::filesystem::path copy;
    std::function<void(std::optional<std::string>)> done;
    std::optional<std::string> refused;
};

void verifyOnThread(GTask* task, gpointer, gpointer data, GCancellable*) {
    auto* job = static_cast<Job*>(data);
    bool created = false;
    job->refused = verifyCopyOrFail(job->file, job->version, job->signature, job->publicKey, job->copy, created);
    if (job->refused && created) ::unlink(job->copy.c_str());
    g_task_return_boolean(task, TRUE);
}

}  // namespace

void Ed25519PackageVerifier::verifyCopy(const std::filesystem::path& file, const std::string& version,
                                        const std::string& signature, const std::string& publicKey,
                                        const std::filesystem::path& copy, std::function<void(std::optional<std::string>)> done) {
    // Reading, hashing and copying a package of up to a few hundred megabytes takes seconds: on a
    // thread of its own, answered on the caller's main loop.
    GTask* task = g_task_new(nullptr, nullptr, [](GObject*, GAsyncResult* result, gpointer) {
        auto* job = static_cast<Job*>(g_task_get_task_data(G_TASK(result)));
        // Taken out, so that what it holds goes here, not on the thread that drops the task last.
        const auto answer = std::move(job->done);
        answer(std::move(job->refused));
    }, nullptr);
    g_task_set_task_data(task, new Job{file, version, signature, publicKey, copy, std::move(done), std::nullopt},
                         [](gpointer data) { delete static_cast<Job*>(data); });
    g_task_run_in_thread(task, &verifyOnThread);
    g_object_unref(task);
}

}  // namespace orvan
