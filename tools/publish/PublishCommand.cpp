#include "publish/PublishCommand.h"

#include "platform/Error.h"
#include "publish/KeyFiles.h"
#include "publish/ReleaseFiles.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <stdexcept>
#include <string_view>

namespace Publish {

namespace {

constexpr std::string_view usage =
    "usage:\n"
    "  ashenmarch-publish keygen <private-key-file> <public-key-file>\n"
    "  ashenmarch-publish release --zip <build.zip> --version <version> --url <archive address>\n"
    "                             --out <folder> [--exe <bundle name>] [--notes <text>]\n"
    "                             (--key <private-key-file> | --unsigned) [--allow-downgrade]\n";

int keygen(std::span<const std::string> args, std::ostream& out) {
    if (args.size() != 2) {
        throw std::invalid_argument("keygen takes a private and a public key file");
    }
    const std::string publicKey = writeKeyPair(args[0], args[1]);
    out << "wrote " << args[0] << " (private, keep it secret) and " << args[1] << "\n"
        << "build the launcher with -DASHENMARCH_RELEASE_PUBKEY=" << publicKey << "\n";
    return 0;
}

ReleaseRequest parseRelease(std::span<const std::string> args) {
    static constexpr std::string_view withValue[] = {"--zip", "--version", "--url", "--out",
                                                     "--exe", "--notes",   "--key"};
    static constexpr std::string_view flags[] = {"--unsigned", "--allow-downgrade"};
    std::map<std::string_view, std::string> values;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        const bool isFlag =
            std::find(std::begin(flags), std::end(flags), option) != std::end(flags);
        if (!isFlag &&
            std::find(std::begin(withValue), std::end(withValue), option) == std::end(withValue)) {
            throw std::invalid_argument("unknown option " + option);
        }
        if (!isFlag && i + 1 == args.size()) {
            throw std::invalid_argument(option + " needs a value");
        }
        if (!values.emplace(option, isFlag ? std::string() : args[++i]).second) {
            throw std::invalid_argument(option + " given twice");
        }
    }
    for (std::string_view required : {"--zip", "--version", "--url", "--out"}) {
        if (!values.contains(required)) {
            throw std::invalid_argument("missing " + std::string(required));
        }
    }
    ReleaseRequest request;
    request.zip = values["--zip"];
    request.version = values["--version"];
    request.url = values["--url"];
    request.out = values["--out"];
    if (values.contains("--exe")) {
        request.exe = values["--exe"];
    }
    request.notes = values["--notes"];
    if (values.contains("--key")) {
        request.key = values["--key"];
    }
    request.unsignedRelease = values.contains("--unsigned");
    request.allowDowngrade = values.contains("--allow-downgrade");
    request.released = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    return request;
}

} // namespace

int runPublish(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    try {
        if (args.size() == 1 && (args[0] == "--help" || args[0] == "help")) {
            out << usage;
            return 0;
        }
        if (!args.empty() && args[0] == "keygen") {
            return keygen(args.subspan(1), out);
        }
        if (!args.empty() && args[0] == "release") {
            publishRelease(parseRelease(args.subspan(1)), out);
            return 0;
        }
        throw std::invalid_argument(args.empty() ? "no command given"
                                                 : "unknown command " + args[0]);
    } catch (const std::invalid_argument& bad) {
        err << "ashenmarch-publish: " << bad.what() << "\n" << usage;
        return 2;
    } catch (const Error& error) {
        err << "ashenmarch-publish: " << error.localizedMessage()
            << (error.detail() ? " (" + *error.detail() + ")" : "") << "\n";
        return 1;
    } catch (const std::exception& failure) {
        err << "ashenmarch-publish: " << failure.what() << "\n";
        return 1;
    }
}

} // namespace Publish
