// Transfers over https against a loopback server whose certificates come from a CA made for the
// test (with the openssl command), trusted through Core::Transfer::TransferOptions::caFile.
#include "core/transfer/Fetch.h"
#include "core/transfer/FileDownloader.h"
#include "platform/Error.h"
#include "support/ErrorOf.h"
#include "support/LoopbackServer.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

// ca.pem signs 127.0.0.1.pem (for the address the tests use) and elsewhere.pem (for another
// host name); stranger-ca.pem signs nothing the server presents.
const char* const makeCertificates = R"(
set -e
cd "$CERTS"
ca() {
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
        -subj "/CN=$2" -keyout "$1.key" -out "$1.pem" 2>/dev/null
}
server() {
    openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
        -subj "/CN=$1" -keyout "$1.key" -out "$1.csr" 2>/dev/null
    printf 'subjectAltName=%s\n' "$2" >"$1.ext"
    openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
        -extfile "$1.ext" -out "$1.pem" 2>/dev/null
}
ca ca "Loopback Test CA"
ca stranger-ca "Stranger CA"
server 127.0.0.1 IP:127.0.0.1
server elsewhere DNS:elsewhere.example
)";

class TlsTransfer : public ::testing::Test {
protected:
    TempDir certs;

    TlsTransfer() {
        Subprocess make("/bin/sh", {"-c", makeCertificates}, {{"CERTS", certs.path().string()}});
        if (make.wait() != 0) {
            throw std::runtime_error("openssl failed: " + make.standardError());
        }
    }

    TlsIdentity identity(const std::string& name) const {
        return {certs / (name + ".pem"), certs / (name + ".key")};
    }

    // Options of a build whose release host is https, trusting `ca`.
    Core::Transfer::TransferOptions trusting(const std::string& ca) const {
        Core::Transfer::TransferOptions options = loopbackTransferOptions();
        options.allowPlainHttp = false;
        options.caFile = (certs / (ca + ".pem")).string();
        return options;
    }
};

TEST_F(TlsTransfer, OnlyAPeerCertifiedForTheAddressByATrustedCaIsAnswered) {
    LoopbackServer trusted(identity("127.0.0.1"));
    LoopbackServer misnamed(identity("elsewhere"));
    trusted.serve("/latest.txt", "version=2.0\n");
    misnamed.serve("/latest.txt", "version=2.0\n");

    EXPECT_EQ(Core::Transfer::fetch(trusted.url("/latest.txt"), trusting("ca")), "version=2.0\n");

    struct Case {
        const char* name;
        std::string address;
        std::string ca;
    };
    const Case refused[] = {
        {"wrong host name", misnamed.url("/latest.txt"), "ca"},
        {"unknown CA", trusted.url("/latest.txt"), "stranger-ca"},
    };
    for (const Case& c : refused) {
        const Error error = errorOf([&] { Core::Transfer::fetch(c.address, trusting(c.ca)); });
        EXPECT_EQ(error.domain(), "curl") << c.name;
        EXPECT_EQ(error.code(), CURLE_PEER_FAILED_VERIFICATION) << c.name << ": " << error.what();
    }
}

TEST_F(TlsTransfer, DownloadsOverHttpsButNeverFollowARedirectToPlainHttp) {
    LoopbackServer secure(identity("127.0.0.1"));
    LoopbackServer plain;
    const std::string archive(100'000, 'a');
    secure.serve("/build.zip", archive);
    plain.serve("/build.zip", archive);
    secure.redirect("/moved.zip", plain.url("/build.zip"));

    syncDownload(secure.url("/build.zip"), certs / "build.zip", {}, trusting("ca"));
    EXPECT_EQ(readFile(certs / "build.zip"), archive);

    const Error error = errorOf(
        [&] { syncDownload(secure.url("/moved.zip"), certs / "moved.zip", {}, trusting("ca")); });
    EXPECT_TRUE(error.is(AmCode::UnsupportedAddress)) << error.what();
    EXPECT_EQ(error.message(), "unsupported address: " + plain.url("/build.zip"));
    EXPECT_FALSE(fs::exists(certs / "moved.zip"));
    EXPECT_TRUE(plain.requests().empty());
}

} // namespace
