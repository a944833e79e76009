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

// ca.pem signs 127.0.0.1.pem (for the address the tests use) and elsewhere.example.pem (for
// another host name); stranger-ca.pem signs nothing the server presents.
const char* const makeCertificates = R"(
set -e
cd "$CERTS"
k='-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2'
openssl req -x509 $k -subj /CN=ca -keyout ca.key -out ca.pem
openssl req -x509 $k -subj /CN=stranger -keyout stranger-ca.key -out stranger-ca.pem
for peer in IP:127.0.0.1 DNS:elsewhere.example; do
    openssl req -x509 $k -subj /CN=peer -addext subjectAltName=$peer -CA ca.pem -CAkey ca.key \
        -addext basicConstraints=CA:FALSE -keyout ${peer#*:}.key -out ${peer#*:}.pem
done
)";

// A build whose release host is https answers only a peer certified for the address by a CA it
// trusts, and never follows a redirect to plain http, nor takes a plain http address.
TEST(TlsTransfer, OnlyATrustedPeerCertifiedForTheAddressIsAnsweredNeverPlainHttp) {
    TempDir certs;
    Subprocess make("/bin/sh", {"-c", makeCertificates}, {{"CERTS", certs.path().string()}});
    ASSERT_EQ(make.wait(), 0) << make.standardError();
    const auto identity = [&](const std::string& name) {
        return TlsIdentity{certs / (name + ".pem"), certs / (name + ".key")};
    };
    LoopbackServer trusted(identity("127.0.0.1"));
    LoopbackServer misnamed(identity("elsewhere.example"));
    LoopbackServer plain;
    const std::string archive(100'000, 'a');
    for (LoopbackServer* server : {&trusted, &misnamed, &plain}) {
        server->serve("/build.zip", archive);
    }
    trusted.redirect("/moved.zip", plain.url("/build.zip"));
    const std::string plainRefused = "unsupported address: " + plain.url("/build.zip");
    const std::tuple<std::string, const char*, int, std::string> rows[] = {
        // address, CA, curl error (0: none), "am" message
        {trusted.url("/build.zip"), "ca", 0, ""},
        {misnamed.url("/build.zip"), "ca", CURLE_PEER_FAILED_VERIFICATION, ""},
        {trusted.url("/build.zip"), "stranger-ca", CURLE_PEER_FAILED_VERIFICATION, ""},
        {trusted.url("/moved.zip"), "ca", 0, plainRefused},
        {plain.url("/build.zip"), "ca", 0, plainRefused},
    };
    for (const auto& [address, ca, curlError, refusal] : rows) {
        SCOPED_TRACE(address + " trusting " + ca);
        Core::Transfer::TransferOptions options = loopbackTransferOptions();
        options.allowPlainHttp = false;
        options.caFile = (certs / (std::string(ca) + ".pem")).string();
        const fs::path to = certs / "build.zip";
        fs::remove(to);
        if (curlError == 0 && refusal.empty()) {
            syncDownload(address, to, {}, options);
            EXPECT_EQ(readFile(to), archive);
            EXPECT_EQ(Core::Transfer::fetch(address, options).size(), archive.size());
            continue;
        }
        const Error error = errorOf([&] { syncDownload(address, to, {}, options); });
        EXPECT_EQ(error.domain(), curlError != 0 ? "curl" : "am") << error.what();
        EXPECT_EQ(curlError != 0 ? error.code() : 0, curlError) << error.what();
        EXPECT_EQ(curlError != 0 ? "" : error.message(), refusal);
        EXPECT_FALSE(fs::exists(to));
    }
    EXPECT_TRUE(plain.requests().empty());
}

} // namespace
