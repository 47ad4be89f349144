#include "text/digest.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace zembrat::text {
namespace {

struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_MD_CTX, ContextFree>;

std::string Hex(const unsigned char* bytes, unsigned size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2u);
    for (unsigned i = 0; i < size; ++i) {
        out.push_back(kDigits[bytes[i] >> 4]);
        out.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return out;
}

Context Start(const EVP_MD* kind) {
    Context context(EVP_MD_CTX_new());
    if (context && EVP_DigestInit_ex(context.get(), kind, nullptr) != 1) context.reset();
    return context;
}

std::optional<std::string> Finish(EVP_MD_CTX* context) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    if (EVP_DigestFinal_ex(context, digest, &size) != 1) return std::nullopt;
    return Hex(digest, size);
}

std::string DigestHex(const EVP_MD* kind, std::string_view bytes) {
    const Context context = Start(kind);
    if (!context || EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1) return {};
    return Finish(context.get()).value_or(std::string());
}

std::optional<std::string> FileDigestHex(const EVP_MD* kind, const std::string& nativePath) {
    // Non-blocking, so a FIFO at the name cannot hold the caller; anything but a regular file
    // fails on the read or gives its bytes as they come.
    const int fd = ::open(nativePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    const Context context = Start(kind);
    std::optional<std::string> result;
    if (context) {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) break;
            if (n == 0) {
                result = Finish(context.get());
                break;
            }
            if (EVP_DigestUpdate(context.get(), buffer, static_cast<std::size_t>(n)) != 1) break;
        }
    }
    ::close(fd);
    return result;
}

}  // namespace

std::string Sha256Hex(std::string_view bytes) {
    return DigestHex(EVP_sha256(), bytes);
}
std::string Md5Hex(std::string_view bytes) {
    return DigestHex(EVP_md5(), bytes);
}

std::optional<std::string> FileSha256Hex(const std::string& nativePath) {
    return FileDigestHex(EVP_sha256(), nativePath);
}
std::optional<std::string> FileMd5Hex(const std::string& nativePath) {
    return FileDigestHex(EVP_md5(), nativePath);
}

}  // namespace zembrat::text
