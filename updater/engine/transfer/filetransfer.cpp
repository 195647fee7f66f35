#include "filetransfer.h"

#include "prompt.h"

namespace {

constexpr std::size_t kMaxErrorText = 1024;

const char *const kConnectFailedText =
    "Connection to the NORVANE server failed.\n"
    "Cannot check the new software updates.\n"
    "You can inactivate this feature if no internet line is available!\n\n";

const char *const kTlsRefusedText = "TLS required: the update server does not offer TLS.\n"
                                    "Nothing was sent to it, and no update was looked for.\n\n";

} // namespace

void tellConnectFailed(IPrompt *prompt, const IFileTransfer &transfer)
{
    if (!prompt)
        return;
    std::string text;
    if (transfer.tlsRefused()) {
        // Not a line problem: switching the reminder off is no advice here.
        text = kTlsRefusedText;
    } else {
        text = kConnectFailedText;
        text += "ERROR!  " + transfer.lastError().substr(0, kMaxErrorText) + "\n";
        text += "\n";
    }
    text += "FTP Server: <" + transfer.host() + ">";
    prompt->message(text, std::string(), IPrompt::Buttons::Ok, IPrompt::Icon::None);
}
