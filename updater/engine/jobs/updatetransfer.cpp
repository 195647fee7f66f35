#include "updatetransfer.h"

#include "transfer/ftpsettings.h"
#include "transfer/transferfactory.h"
#include "trustedkey.h"

std::unique_ptr<IFileTransfer> openUpdateTransfer(IPrompt *prompt, const std::string &serverPath,
                                                  const UpdateSecurity &security,
                                                  const std::atomic<bool> *cancel,
                                                  const std::string &hostText)
{
    std::unique_ptr<IFileTransfer> transfer = makeFileTransfer(
        prompt, hostText.empty() ? ftpServerHost(serverPath) : hostText, ftpTlsMode(serverPath));
    transfer->setTls(transferTlsSettings(serverPath, security.caFile));
    transfer->setMinRate(ftpMinRate(serverPath));
    transfer->setProxy(UpdateSettings::text(serverPath, UpdateSettings::kProxy));
    const TrustedKey key = findTrustedKey(security.publicKeyFile, security.rootFile);
    transfer->setPlainAllowed(key.source != TrustedKey::Source::None && key.error.empty());
    transfer->setCancelFlag(cancel);
    return transfer;
}
