#pragma once
// CertFactory: makes a throw-away PKI with the openssl command-line tool: a CA, a server
// certificate for 127.0.0.1/localhost and a client certificate signed by it, and a second CA
// that signed neither (to test verification failures). EC P-256 keys keep it fast.

#include <string>

#include "tests/support/temp_dir.h"

namespace krell {
namespace test {

//! One more certificate signed by the factory's CA (see CertFactory::MakeCert).
struct CertOptions {
    //! Contents of the openssl extension file: subjectAltName, extendedKeyUsage and the like.
    std::string extensions = "subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n";
    bool rsa_key = false;  // RSA 2048 instead of EC P-256 (for key-exchange suites that need it)
    int days = 2;          // validity from now; negative makes a certificate that has expired
    std::string password;  // non-empty: the key file is encrypted with this password
};

class CertFactory {
public:
    //! Generates everything into a temporary directory; Ok() tells whether it worked.
    CertFactory();

    bool Ok() const { return ok_; }
    std::string CaPath() const { return dir_.File("ca.pem"); }
    std::string OtherCaPath() const { return dir_.File("other-ca.pem"); }
    std::string ServerCertPath() const { return dir_.File("server.pem"); }
    std::string ServerKeyPath() const { return dir_.File("server.key"); }
    std::string ClientCertPath() const { return dir_.File("client.pem"); }
    std::string ClientKeyPath() const { return dir_.File("client.key"); }

    //! Makes "<name>.pem" and "<name>.key" signed by CaPath(); false when openssl failed.
    bool MakeCert(const std::string& name, const CertOptions& options) const;
    std::string CertPath(const std::string& name) const { return dir_.File(name + ".pem"); }
    std::string KeyPath(const std::string& name) const { return dir_.File(name + ".key"); }

private:
    bool Run(const std::string& command) const;
    bool MakeCa(const std::string& name, const std::string& subject) const;
    bool MakeSigned(const std::string& name, const std::string& subject,
                    const std::string& extensions, const std::string& key_options = "",
                    int days = 2) const;

    TempDir dir_;
    bool ok_ = false;
};

}  // namespace test
}  // namespace krell
