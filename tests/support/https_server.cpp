#include "support/https_server.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace zembrat::testing {
namespace {

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using Cert = std::unique_ptr<X509, X509Free>;
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

void Check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("test certificate: ") + what);
}

Key NewKey() {
    Key key(EVP_EC_gen("P-256"));
    Check(key != nullptr, "key");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    Check(ext != nullptr, "extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

// A certificate for subject's key, valid from `from` to `to` seconds from now, signed by
// issuerKey (issuer null: self-signed).
Cert MakeCertificate(EVP_PKEY* key, const char* commonName, long serial, long from, long to,
                     X509* issuer, EVP_PKEY* issuerKey, bool ca, const char* altNames) {
    Cert cert(X509_new());
    Check(cert != nullptr, "new");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), from);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), to);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Zembrat tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509* signer = issuer ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    if (ca) {
        AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
        AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    } else {
        AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
        AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
        AddExtension(cert.get(), signer, NID_subject_alt_name, altNames);
        AddExtension(cert.get(), signer, NID_authority_key_identifier, "keyid");
    }
    Check(X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) > 0, "sign");
    return cert;
}

constexpr long kDay = 24 * 60 * 60;

struct Authority {
    Key key;
    Cert cert;
    std::string pem;
};

Authority MakeAuthority(const char* name, long serial) {
    Authority a;
    a.key = NewKey();
    a.cert = MakeCertificate(a.key.get(), name, serial, -kDay, 30 * kDay, nullptr, nullptr, true,
                             nullptr);
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, a.cert.get());
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    a.pem.assign(data, static_cast<std::size_t>(size));
    BIO_free(bio);
    return a;
}

const Authority& TestAuthority() {
    static const Authority ca = MakeAuthority("Zembrat test CA", 1);
    return ca;
}

const Authority& StrangerAuthority() {
    static const Authority ca = MakeAuthority("Zembrat unknown CA", 2);
    return ca;
}

}  // namespace

class HttpsServer::Impl {
  public:
    explicit Impl(ServerCertificate kind) {
        static long serial = 100;
        key_ = NewKey();
        const Authority& ca =
            kind == ServerCertificate::UnknownIssuer ? StrangerAuthority() : TestAuthority();
        const bool expired = kind == ServerCertificate::Expired;
        const bool mismatch = kind == ServerCertificate::NameMismatch;
        cert_ = MakeCertificate(key_.get(), mismatch ? "other.invalid" : "127.0.0.1", ++serial,
                                expired ? -30 * kDay : -kDay, expired ? -kDay : kDay, ca.cert.get(),
                                ca.key.get(), false,
                                mismatch ? "DNS:other.invalid,IP:127.0.0.2" : "IP:127.0.0.1");
        server_ = std::make_unique<httplib::SSLServer>(cert_.get(), key_.get());
        server_->set_keep_alive_max_count(100);
        // Room for a group's kept connections and a lone client's at once: with the default
        // pool (8 threads here) a ninth kept-alive connection waits for one of them to time out.
        server_->new_task_queue = [] { return new httplib::ThreadPool(32); };
        server_->Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
            Answer(req, res);
        });
        server_->Post(".*", [this](const httplib::Request& req, httplib::Response& res) {
            Answer(req, res);
        });
        if (!server_->is_valid()) return;
        port_ = server_->bind_to_any_port("127.0.0.1");
        if (port_ <= 0) return;
        thread_ = std::thread([this] { server_->listen_after_bind(); });
        for (int i = 0; i < 500 && !server_->is_running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        started_ = server_->is_running();
    }

    ~Impl() {
        server_->stop();
        if (thread_.joinable()) thread_.join();
    }

    void Answer(const httplib::Request& req, httplib::Response& res) {
        RecordedRequest r;
        r.method = req.method;
        r.target = req.target;
        r.path = req.path;
        for (const auto& [name, value] : req.headers) {
            if (name != "REMOTE_ADDR" && name != "REMOTE_PORT" && name != "LOCAL_ADDR" &&
                name != "LOCAL_PORT")
                r.headers.emplace_back(name, value);
        }
        r.body = req.body;
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(r));
        const auto it = answers_.find(req.path);
        if (it == answers_.end()) {
            res.status = 404;
            return;
        }
        res.status = it->second.status;
        if (!it->second.location.empty()) res.set_header("Location", it->second.location);
        res.set_content(it->second.body, it->second.contentType.c_str());
    }

    struct Answer_ {
        std::string body, contentType;
        int status;
        std::string location;
    };

    Key key_;
    Cert cert_;
    std::unique_ptr<httplib::SSLServer> server_;
    std::thread thread_;
    int port_ = 0;
    bool started_ = false;
    mutable std::mutex mutex_;
    std::map<std::string, Answer_> answers_;
    std::vector<RecordedRequest> requests_;
};

HttpsServer::HttpsServer(ServerCertificate certificate)
    : impl_(std::make_unique<Impl>(certificate)) {}
HttpsServer::~HttpsServer() = default;

bool HttpsServer::started() const {
    return impl_->started_;
}
int HttpsServer::port() const {
    return impl_->port_;
}
std::string HttpsServer::BaseUrl() const {
    return "https://127.0.0.1:" + std::to_string(impl_->port_);
}
std::string HttpsServer::Url(std::string_view path) const {
    return BaseUrl() + std::string(path);
}

void HttpsServer::Set(std::string path, std::string body, std::string contentType, int status) {
    std::lock_guard lock(impl_->mutex_);
    impl_->answers_[std::move(path)] = {std::move(body), std::move(contentType), status, {}};
}

void HttpsServer::Redirect(std::string path, std::string location, int status) {
    std::lock_guard lock(impl_->mutex_);
    impl_->answers_[std::move(path)] = {{}, "text/plain", status, std::move(location)};
}

std::vector<RecordedRequest> HttpsServer::Requests() const {
    std::lock_guard lock(impl_->mutex_);
    return impl_->requests_;
}

const std::string& HttpsServer::CaPem() {
    return TestAuthority().pem;
}

HttpsServer::Pem HttpsServer::IssueCertificate() {
    static long serial = 10000;
    const Authority& ca = TestAuthority();
    const Key key = NewKey();
    const Cert cert = MakeCertificate(key.get(), "127.0.0.1", ++serial, -kDay, kDay, ca.cert.get(),
                                      ca.key.get(), false, "IP:127.0.0.1");
    const auto pem = [](auto write) {
        BIO* bio = BIO_new(BIO_s_mem());
        write(bio);
        char* data = nullptr;
        const long size = BIO_get_mem_data(bio, &data);
        std::string out(data, static_cast<std::size_t>(size));
        BIO_free(bio);
        return out;
    };
    return {pem([&](BIO* b) { PEM_write_bio_X509(b, cert.get()); }), pem([&](BIO* b) {
                PEM_write_bio_PrivateKey(b, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
            })};
}

namespace {

// The folder of the CA file, removed when the process ends. It goes by the file system alone:
// at exit the text codec may already be gone.
struct CaFolder {
    std::string path;
    CaFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zembrat-ca-XXXXXX").string();
        if (mkdtemp(pattern.data())) path = pattern;
    }
    ~CaFolder() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
};

}  // namespace

const std::string& HttpsServer::CaFile() {
    static const CaFolder folder;
    static const std::string file = [] {
        const std::string name = folder.path + "/test-ca.pem";
        std::ofstream(name, std::ios::binary) << CaPem();
        return name;
    }();
    return file;
}

}  // namespace zembrat::testing
