#include "tests/support/cert_factory.h"

#include <cstdlib>
#include <fstream>
#include <string>

namespace krell {
namespace test {
namespace {

const char kKeyOptions[] = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
const char kRsaKeyOptions[] = "-newkey rsa:2048 -nodes";

std::string Quote(const std::string& text) {
    return "'" + text + "'";
}

}  // namespace

CertFactory::CertFactory() {
    if (dir_.Path().empty()) {
        return;
    }
    {
        std::ofstream(dir_.File("server.ext"))
            << "subjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth\n";
        std::ofstream(dir_.File("client.ext")) << "extendedKeyUsage=clientAuth\n";
    }
    ok_ = MakeCa("ca", "/CN=Krell Test CA") && MakeCa("other-ca", "/CN=Krell Other CA") &&
          MakeSigned("server", "/CN=localhost", "server.ext") &&
          MakeSigned("client", "/CN=devicebench", "client.ext");
}

bool CertFactory::Run(const std::string& command) const {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

bool CertFactory::MakeCa(const std::string& name, const std::string& subject) const {
    return Run("openssl req -x509 " + std::string(kKeyOptions) + " -days 2 -subj " +
               Quote(subject) + " -addext basicConstraints=critical,CA:TRUE" +
               " -addext keyUsage=critical,keyCertSign,cRLSign -keyout " +
               Quote(dir_.File(name + ".key")) + " -out " + Quote(dir_.File(name + ".pem")));
}

bool CertFactory::MakeCert(const std::string& name, const CertOptions& options) const {
    if (!ok_) {
        return false;
    }
    std::ofstream(dir_.File(name + ".ext")) << options.extensions;
    if (!MakeSigned(name, "/CN=" + name, name + ".ext",
                    options.rsa_key ? kRsaKeyOptions : kKeyOptions, options.days)) {
        return false;
    }
    if (options.password.empty()) {
        return true;
    }
    const std::string key = Quote(KeyPath(name));
    return Run("openssl pkey -in " + key + " -aes256 -passout " +
               Quote("pass:" + options.password) + " -out " + key + ".enc") &&
           Run("mv " + key + ".enc " + key);
}

bool CertFactory::MakeSigned(const std::string& name, const std::string& subject,
                             const std::string& extensions, const std::string& key_options,
                             int days) const {
    const std::string key_text = key_options.empty() ? kKeyOptions : key_options;
    return Run("openssl req " + key_text + " -subj " + Quote(subject) + " -keyout " +
               Quote(dir_.File(name + ".key")) + " -out " + Quote(dir_.File(name + ".csr"))) &&
           Run("openssl x509 -req -days " + std::to_string(days) + " -in " +
               Quote(dir_.File(name + ".csr")) + " -CA " + Quote(CaPath()) + " -CAkey " +
               Quote(dir_.File("ca.key")) + " -CAcreateserial -extfile " +
               Quote(dir_.File(extensions)) + " -out " + Quote(dir_.File(name + ".pem")));
}

}  // namespace test
}  // namespace krell
