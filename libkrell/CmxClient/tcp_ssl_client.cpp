#include "libkrell/CmxClient/tcp_ssl_client.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "libkrell/CmxClient/tcp_socket.h"
#include "scribe/logger.h"

namespace krell {
namespace lidar {
namespace {

// TLS 1.2 suites with ephemeral key exchange only, so that a recorded session cannot be opened
// later with the sensor's key; TLS 1.3 suites are all forward secret and stay as they are.
constexpr char kForwardSecretCiphers[] =
    "ECDHE+AESGCM:ECDHE+CHACHA20:DHE+AESGCM:DHE+CHACHA20:ECDHE+AES:DHE+AES:!aNULL:!eNULL:!PSK:"
    "!SRP:!DSS";
constexpr int64_t kMicrosPerSecond = 1000000;
constexpr int64_t kMicrosPerMs = 1000;
constexpr size_t kErrorTextBytes = 256;

// OpenSSL writes to the socket with plain write(), so a peer that has gone away would raise
// SIGPIPE and end the whole program. Block the signal on this thread for the duration of one
// TLS call and swallow a SIGPIPE that the call itself raised.
class SigpipeBlock {
public:
    SigpipeBlock() {
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        was_pending_ = sigismember(&pending, SIGPIPE) == 1;
        sigset_t block;
        sigemptyset(&block);
        sigaddset(&block, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &block, &old_mask_);
    }
    ~SigpipeBlock() {
        if (!was_pending_) {
            sigset_t pipe_only;
            sigemptyset(&pipe_only);
            sigaddset(&pipe_only, SIGPIPE);
            timespec no_wait{0, 0};
            while (sigtimedwait(&pipe_only, nullptr, &no_wait) == SIGPIPE) {}
        }
        pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
    }
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;

private:
    sigset_t old_mask_;
    bool was_pending_ = false;
};

// What the verify callback saw, so that a refusal can say why and name the certificate.
struct VerifyNotes {
    long first_error = X509_V_OK;
    std::string peer_names;
};

// The OpenSSL errors queued by the current operation, oldest first; empties the queue so that
// they never show up under a later line.
std::string TakeSslErrors() {
    std::string text;
    char line[kErrorTextBytes];
    for (unsigned long code = ERR_get_error(); code != 0; code = ERR_get_error()) {
        ERR_error_string_n(code, line, sizeof(line));
        text += text.empty() ? "" : "; ";
        text += line;
    }
    return text;
}

std::string IpText(const ASN1_OCTET_STRING* ip) {
    const unsigned char* bytes = ASN1_STRING_get0_data(ip);
    char text[INET6_ADDRSTRLEN] = "?";
    const int length = ASN1_STRING_length(ip);
    if (length == 4 || length == 16) {
        ::inet_ntop(length == 4 ? AF_INET : AF_INET6, bytes, text, sizeof(text));
    }
    return text;
}

// The names a certificate is for: its subjectAltName entries, or its common name without any.
std::string CertificateNames(X509* cert) {
    std::string names;
    auto* alt =
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; alt != nullptr && i < sk_GENERAL_NAME_num(alt); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(alt, i);
        names += names.empty() ? "" : ", ";
        if (name->type == GEN_IPADD) {
            names += "IP:" + IpText(name->d.iPAddress);
        } else if (name->type == GEN_DNS) {
            const ASN1_IA5STRING* dns = name->d.dNSName;
            names += "DNS:" + std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(dns)),
                                          static_cast<size_t>(ASN1_STRING_length(dns)));
        } else {
            names += "other";
        }
    }
    GENERAL_NAMES_free(alt);
    if (names.empty()) {
        char common_name[kErrorTextBytes] = "";
        X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, common_name,
                                  sizeof(common_name));
        names = std::string("CN:") + common_name;
    }
    return names;
}

int VerifyCallback(int ok, X509_STORE_CTX* store) {
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* notes = ssl ? static_cast<VerifyNotes*>(SSL_get_app_data(ssl)) : nullptr;
    if (ok == 0 && notes != nullptr && notes->first_error == X509_V_OK) {
        notes->first_error = X509_STORE_CTX_get_error(store);
        X509* cert = X509_STORE_CTX_get_current_cert(store);
        if (cert != nullptr) {
            notes->peer_names = CertificateNames(cert);
        }
    }
    return ok;
}

// Refuses to decrypt a protected key: DeviceBench has no console to ask for a password on, and
// OpenSSL's default would block the connect thread on one. Notes that a password was wanted.
int NoPassword(char*, int, int, void* wanted) {
    if (wanted != nullptr) {
        *static_cast<bool*>(wanted) = true;
    }
    return 0;
}

// Why an SSL call failed, from its SSL_get_error class and the error queue.
std::string IoFailureReason(int ssl_error, int saved_errno) {
    std::string queued = TakeSslErrors();
    if (!queued.empty()) {
        return queued;
    }
    if (ssl_error == SSL_ERROR_ZERO_RETURN) {
        return "the sensor closed the TLS session";
    }
    if (ssl_error == SSL_ERROR_SYSCALL) {
        return saved_errno != 0 ? std::strerror(saved_errno) : "connection closed by the sensor";
    }
    return "TLS error class " + std::to_string(ssl_error);
}

std::string VerifyFailureReason(const VerifyNotes& notes, const std::string& expected) {
    std::string reason = X509_verify_cert_error_string(notes.first_error);
    if (notes.first_error == X509_V_ERR_IP_ADDRESS_MISMATCH ||
        notes.first_error == X509_V_ERR_HOSTNAME_MISMATCH) {
        reason += ": connected to " + expected + ", certificate is for " + notes.peer_names;
    } else if (!notes.peer_names.empty()) {
        reason += " (certificate for " + notes.peer_names + ")";
    }
    return reason;
}

}  // namespace

TcpSslClient::~TcpSslClient() {
    Close();
}

const char* TcpSslClient::OrNull(const std::optional<std::string>& text) {
    return text ? text->c_str() : nullptr;
}

SslCtxPtr TcpSslClient::InitSslClient(const char* cert_path, const char* private_key_path,
                                      const char* ca_path) {
    OPENSSL_init_ssl(0, nullptr);
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr);
    ERR_clear_error();
    SslCtxPtr ctx(SSL_CTX_new(TLS_client_method()));
    if (!ctx || SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION) != 1 ||
        SSL_CTX_set_cipher_list(ctx.get(), kForwardSecretCiphers) != 1) {
        SLOG_ERROR("create SSL_CTX failed: %s", TakeSslErrors().c_str());
        return nullptr;
    }
    if (ca_path != nullptr) {
        SLOG_INFO("ca path: %s", ca_path);
        if (SSL_CTX_load_verify_locations(ctx.get(), ca_path, nullptr) != 1) {
            SLOG_ERROR("load ca failed,please check ca file path: %s: %s", ca_path,
                       TakeSslErrors().c_str());
            return nullptr;
        }
    }
    if (cert_path != nullptr && private_key_path != nullptr &&
        !LoadClientCertificate(ctx.get(), cert_path, private_key_path)) {
        return nullptr;
    }
    return ctx;
}

bool TcpSslClient::LoadClientCertificate(SSL_CTX* ctx, const char* cert_path,
                                         const char* private_key_path) {
    SLOG_INFO("cert path: %s,\nprivate_key path: %s", cert_path, private_key_path);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    if (SSL_CTX_use_certificate_file(ctx, cert_path, SSL_FILETYPE_PEM) != 1) {
        SLOG_ERROR("load cert file failed,please check cert file path: %s: %s", cert_path,
                   TakeSslErrors().c_str());
        return false;
    }
    bool password_wanted = false;
    SSL_CTX_set_default_passwd_cb(ctx, NoPassword);
    SSL_CTX_set_default_passwd_cb_userdata(ctx, &password_wanted);
    const bool key_loaded =
        SSL_CTX_use_PrivateKey_file(ctx, private_key_path, SSL_FILETYPE_PEM) == 1;
    SSL_CTX_set_default_passwd_cb_userdata(ctx, nullptr);
    if (!key_loaded) {
        const std::string reason =
            password_wanted ? "the key is protected by a password, which cannot be entered here"
                            : TakeSslErrors();
        SLOG_ERROR("load private key file failed,please check private key file path: %s: %s",
                   private_key_path, reason.c_str());
        return false;
    }
    if (SSL_CTX_check_private_key(ctx) != 1) {
        SLOG_ERROR("check private key failed: %s does not belong to %s: %s", private_key_path,
                   cert_path, TakeSslErrors().c_str());
        return false;
    }
    return true;
}

void TcpSslClient::StoreTarget(const char* ip, uint16_t port, const char* cert_path,
                               const char* private_key_path, const char* ca_path) {
    StoreAddress(ip, port);
    cert_path_ = cert_path ? std::optional<std::string>(cert_path) : std::nullopt;
    private_key_path_ =
        private_key_path ? std::optional<std::string>(private_key_path) : std::nullopt;
    ca_path_ = ca_path ? std::optional<std::string>(ca_path) : std::nullopt;
}

bool TcpSslClient::Open(const char* ip, uint16_t port, bool, const char* cert_path,
                        const char* private_key_path, const char* ca_path) {
    if (SameAddress(ip, port)) {
        return true;
    }
    SLOG_INFO("Open() IP %s port %u", ip ? ip : "", static_cast<unsigned>(port));
    Close();
    StoreTarget(ip, port, cert_path, private_key_path, ca_path);
    return Open();
}

bool TcpSslClient::Open() {
    Close();
    ctx_ = InitSslClient(OrNull(cert_path_), OrNull(private_key_path_), OrNull(ca_path_));
    if (!ctx_) {
        SLOG_ERROR("create SSL_CTX failed");
        return false;
    }
    AdoptSocket(tcp_open(server_ip_.c_str(), server_port_));
    return Handshake(MonotonicMicros() + kHandshakeTimeoutMs * kMicrosPerMs);
}

bool TcpSslClient::TryOpen(uint16_t local_port, const char* ip, uint16_t port, bool,
                           const char* cert_path, const char* private_key_path, const char* ca_path,
                           uint32_t timeout_s) {
    if (SameAddress(ip, port)) {
        return true;
    }
    // One deadline for connect and handshake: the owner's connect window is the whole attempt.
    const int64_t deadline_us = MonotonicMicros() + timeout_s * kMicrosPerSecond;
    Close();
    StoreTarget(ip, port, cert_path, private_key_path, ca_path);
    ctx_ = InitSslClient(OrNull(cert_path_), OrNull(private_key_path_), OrNull(ca_path_));
    if (!ctx_) {
        return false;
    }
    AdoptSocket(tcp_try_open(local_port, server_ip_.c_str(), port, timeout_s));
    return Handshake(deadline_us);
}

bool TcpSslClient::ExpectPeerIdentity() {
    in_addr ipv4{};
    if (::inet_pton(AF_INET, server_ip_.c_str(), &ipv4) == 1) {
        return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_.get()), server_ip_.c_str()) == 1;
    }
    return SSL_set1_host(ssl_.get(), server_ip_.c_str()) == 1;
}

bool TcpSslClient::Handshake(int64_t deadline_us) {
    if (!socket_) {
        SLOG_ERROR("Connect to Server Failed!~!~");
        Close();
        return false;
    }
    ERR_clear_error();
    ssl_.reset(SSL_new(ctx_.get()));
    if (!ssl_ || SSL_set_fd(ssl_.get(), socket_.get()) != 1 || !ExpectPeerIdentity()) {
        SLOG_ERROR("create ssl failed: %s", TakeSslErrors().c_str());
        Close();
        return false;
    }
    VerifyNotes notes;
    SSL_set_app_data(ssl_.get(), &notes);
    // The chain and the name are checked inside the handshake, so that nothing is exchanged
    // with a peer that is not the sensor.
    SSL_set_verify(ssl_.get(), SSL_VERIFY_PEER, VerifyCallback);
    std::string reason;
    const bool connected = RunHandshake(deadline_us, reason);
    SSL_set_app_data(ssl_.get(), nullptr);
    if (!connected) {
        if (notes.first_error != X509_V_OK) {
            reason = VerifyFailureReason(notes, server_ip_);
        }
        SLOG_ERROR("connect ssl failed: %s", reason.c_str());
        Close();
        return false;
    }
    const long verify = SSL_get_verify_result(ssl_.get());
    if (verify != X509_V_OK) {
        SLOG_ERROR("verify ssl failed: %s", X509_verify_cert_error_string(verify));
        Close();
        return false;
    }
    // Restore what the owner asked for; 0 (no time-out) until SetTimeout has been called.
    if (!RestoreTimeouts()) {
        SetSocketTimeouts(socket_.get(), 0, 0);
    }
    SLOG_INFO("TcpSslClient::Open() success!");
    opened_ = true;
    return true;
}

bool TcpSslClient::RunHandshake(int64_t deadline_us, std::string& reason) {
    // Non-blocking from here on: every wait is a poll against a deadline, so that a peer that
    // trickles bytes cannot stretch any call beyond it.
    if (!SetSocketBlocking(socket_.get(), false)) {
        reason = std::strerror(errno);
        return false;
    }
    SigpipeBlock no_sigpipe;
    for (;;) {
        errno = 0;
        const int ret = SSL_connect(ssl_.get());
        if (ret == 1) {
            return true;
        }
        const int saved_errno = errno;
        const int err = SSL_get_error(ssl_.get(), ret);
        if (err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) {
            reason = IoFailureReason(err, saved_errno);
            return false;
        }
        const int ready =
            WaitSocket(socket_.get(), err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline_us);
        if (ready == 0) {
            reason = "no complete handshake from the sensor within the time-out";
            return false;
        }
        if (ready < 0) {
            reason = std::strerror(errno);
            return false;
        }
    }
}

void TcpSslClient::Close() {
    opened_ = false;
    if (ssl_) {
        SigpipeBlock no_sigpipe;
        // The socket is non-blocking once a handshake started, so this never waits for the peer.
        SSL_shutdown(ssl_.get());
        ssl_.reset();
    }
    CloseSocket();
    ctx_.reset();
    ERR_clear_error();
}

int32_t TcpSslClient::Send(const uint8_t* data, uint16_t len, int32_t) {
    if (!opened_.load() && !Open()) {
        return -1;
    }
    if (len == 0) {
        return 0;
    }
    ERR_clear_error();
    const int64_t deadline_us = SocketDeadline(socket_.get(), SO_SNDTIMEO);
    SigpipeBlock no_sigpipe;
    for (;;) {
        errno = 0;
        const int written = SSL_write(ssl_.get(), data, len);
        if (written > 0) {
            return written;
        }
        const int saved_errno = errno;
        const int err = SSL_get_error(ssl_.get(), written);
        int ready = -1;
        if (err == SSL_ERROR_WANT_WRITE || err == SSL_ERROR_WANT_READ) {
            ready = WaitSocket(socket_.get(), err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT,
                               deadline_us);
            if (ready > 0) {
                continue;
            }
        }
        // A write left half done cannot be taken up with other bytes: the session is over.
        const std::string reason =
            ready == 0 ? "not written within the send time-out" : IoFailureReason(err, saved_errno);
        SLOG_ERROR("Send errno %d: %s", ready == 0 ? ETIMEDOUT : saved_errno, reason.c_str());
        Close();
        return -1;
    }
}

int32_t TcpSslClient::Receive(uint8_t* buf, uint32_t len, int32_t flags) {
    if (flags == kReceiveNoWait) {
        // Nothing is read without waiting, but an idle link that the sensor closed is noticed
        // here, so that the owner reopens before its next request instead of failing it.
        if (opened_.load() && socket_ && PeerHungUp(socket_.get())) {
            SLOG_WARNING("ssl connection closed by peer");
            Close();
        }
        return -1;
    }
    if (!opened_.load() && !Open()) {
        return -1;
    }
    const int64_t start_us = MonotonicMicros();
    const int64_t deadline_us = SocketDeadline(socket_.get(), SO_RCVTIMEO);
    ERR_clear_error();
    SigpipeBlock no_sigpipe;
    uint32_t got = 0;
    while (got < len) {
        errno = 0;
        const int n = SSL_read(ssl_.get(), buf + got, static_cast<int>(len - got));
        if (n > 0) {
            got += static_cast<uint32_t>(n);
            continue;
        }
        const int saved_errno = errno;
        const int err = SSL_get_error(ssl_.get(), n);
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
            const int ready = WaitSocket(
                socket_.get(), err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline_us);
            if (ready > 0) {
                continue;
            }
            if (ready == 0) {
                SLOG_ERROR("ssl receive failed: %u of %u bytes within the receive time-out", got,
                           len);
                return -1;
            }
        }
        SLOG_ERROR("ssl receive failed: %s", IoFailureReason(err, saved_errno).c_str());
        Close();
        return -1;
    }
    const int64_t elapsed_us = MonotonicMicros() - start_us;
    if (elapsed_us >= kSlowReceiveUs) {
        SLOG_DEBUG("Receive execu: %dus", static_cast<int>(elapsed_us));
    }
    return static_cast<int32_t>(len);
}

}  // namespace lidar
}  // namespace krell
