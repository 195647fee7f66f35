#include "rootpublish.h"

#include "files/folderfiles.h"
#include "revision/revisionsignature.h"
#include "signing.h"
#include "trust/trustroot.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

bool publishRoot(const std::string &folder, const RootOptions &options, RootResult &result,
                 std::string &error)
{
    std::vector<std::string> keyLines;
    for (const std::string &file : options.publicKeyFiles) {
        std::string pem;
        if (!appendWholeFile(file, pem, 16 * 1024)) {
            error = "cannot read the key " + file;
            return false;
        }
        const std::string line = keyLineOfPem(pem);
        if (line.empty()) {
            error = "the key " + file + " is not an Ed25519 public key";
            return false;
        }
        keyLines.push_back(line);
    }
    if (keyLines.empty() || keyLines.size() > kMaxRootKeys) {
        error = "a root names 1 to " + std::to_string(kMaxRootKeys) + " keys";
        return false;
    }
    if (options.threshold < 1 || options.threshold > keyLines.size()) {
        error = "the threshold must be between 1 and the number of keys";
        return false;
    }
    std::error_code ec;
    fs::create_directories(fs::path(folder) / kRootFolderName, ec);
    if (ec) {
        error = "cannot make " + folder + "/" + kRootFolderName + ": " + ec.message();
        return false;
    }
    result.version = 1;
    while (fs::exists(fs::path(folder) / rootFileName(result.version), ec))
        ++result.version;

    const std::time_t now = options.clock ? options.clock() : std::time(nullptr);
    const std::time_t expires = now + static_cast<std::time_t>(options.expiresDays) * 86400;
    std::string text = rootBody(result.version, expires, options.threshold, keyLines);
    const std::string message = rootSignedMessage(text);
    for (const std::string &file : options.signingKeyFiles) {
        std::string signature;
        if (!Signature::sign(file, message, signature, error))
            return false;
        text += rootSignatureLine(signature);
    }
    result.path = folder + "/" + rootFileName(result.version);
    result.expires = utcMomentText(expires);
    return replaceFileInFolder(folder, rootFileName(result.version), text, error);
}
