#include "mirrortransfer.h"

CMirrorTransfer::CMirrorTransfer(IPrompt *prompt,
                                 std::vector<std::unique_ptr<IFileTransfer>> mirrors)
    : m_prompt(prompt)
    , m_mirrors(std::move(mirrors))
    , m_applied(m_mirrors.size(), 0)
    , m_unreachable(m_mirrors.size(), false)
{
}

bool CMirrorTransfer::bring(std::size_t i)
{
    IFileTransfer &mirror = *m_mirrors[i];
    if (m_unreachable[i] || mirror.connectionLost())
        return false;
    if (!mirror.isConnected()) {
        m_applied[i] = 0;
        if (!mirror.Connect()) {
            m_unreachable[i] = true;
            return false;
        }
    }
    for (; m_applied[i] < m_paths.size(); ++m_applied[i])
        if (!mirror.SetCurrentDirectory(m_paths[m_applied[i]]))
            return false;
    return true;
}

bool CMirrorTransfer::onFirstThatWorks(const std::function<bool(IFileTransfer &)> &step)
{
    std::string reasons;
    std::vector<std::size_t> order{m_current};
    for (std::size_t i = 0; i < m_mirrors.size() && m_pinned == kAllMirrors; ++i)
        if (i != m_current)
            order.push_back(i);
    for (std::size_t i : order) {
        if (m_cancel && m_cancel->load()) {
            m_lastError = "cancelled";
            return false;
        }
        const bool worked = bring(i) && step(*m_mirrors[i]);
        if (worked) {
            m_current = i;
            m_lastError.clear();
            return true;
        }
        if (!reasons.empty())
            reasons += "; ";
        reasons += m_mirrors[i]->host() + ": " + m_mirrors[i]->lastError();
    }
    m_lastError = reasons;
    return false;
}

bool CMirrorTransfer::Connect(const std::string &)
{
    if (m_connected)
        return false;
    m_paths.clear();
    m_pinned = kAllMirrors;
    m_unreachable.assign(m_mirrors.size(), false);
    m_connected = onFirstThatWorks([](IFileTransfer &) { return true; });
    if (!m_connected && !(m_cancel && m_cancel->load()))
        tellConnectFailed(m_prompt, *this);
    return m_connected;
}

bool CMirrorTransfer::SetCurrentDirectory(const std::string &path)
{
    if (!m_connected)
        return false;
    // Made on a mirror when it is brought in.
    m_paths.push_back(path);
    return onFirstThatWorks([](IFileTransfer &) { return true; });
}

bool CMirrorTransfer::FindFile(const std::string &name)
{
    return m_connected
        && onFirstThatWorks([&name](IFileTransfer &mirror) { return mirror.FindFile(name); });
}

bool CMirrorTransfer::GetFile(const std::string &remoteName, const std::string &localFolder,
                              const GetFileOptions &options)
{
    return m_connected && onFirstThatWorks([&](IFileTransfer &mirror) {
               return mirror.GetFile(remoteName, localFolder, options);
           });
}

bool CMirrorTransfer::GetBytes(const std::string &remoteName, std::string &bytes,
                               const GetFileOptions &options)
{
    bytes.clear();
    return m_connected && onFirstThatWorks([&](IFileTransfer &mirror) {
               return mirror.GetBytes(remoteName, bytes, options);
           });
}

void CMirrorTransfer::useMirror(std::size_t index)
{
    if (index < m_mirrors.size())
        m_current = index;
    m_pinned = index < m_mirrors.size() ? index : kAllMirrors;
}

bool CMirrorTransfer::Close()
{
    // m_current stays: the last good mirror is asked first next time.
    for (auto &mirror : m_mirrors)
        mirror->Close();
    m_paths.clear();
    m_connected = false;
    return true;
}

std::string CMirrorTransfer::host() const
{
    std::string hosts;
    for (const auto &mirror : m_mirrors)
        hosts += (hosts.empty() ? "" : ", ") + mirror->host();
    return hosts;
}

void CMirrorTransfer::setTls(const TlsSettings &tls)
{
    for (auto &mirror : m_mirrors)
        mirror->setTls(tls);
}

void CMirrorTransfer::setProxy(const std::string &proxy)
{
    for (auto &mirror : m_mirrors)
        mirror->setProxy(proxy);
}

void CMirrorTransfer::setMinRate(const MinRate &rate)
{
    for (auto &mirror : m_mirrors)
        mirror->setMinRate(rate);
}

void CMirrorTransfer::setPlainAllowed(bool allowed)
{
    for (auto &mirror : m_mirrors)
        mirror->setPlainAllowed(allowed);
}

void CMirrorTransfer::setCancelFlag(const std::atomic<bool> *cancel)
{
    m_cancel = cancel;
    for (auto &mirror : m_mirrors)
        mirror->setCancelFlag(cancel);
}

bool CMirrorTransfer::plainFallback() const
{
    return m_mirrors[m_current]->plainFallback();
}

bool CMirrorTransfer::connectionLost() const
{
    for (std::size_t i = 0; i < m_mirrors.size(); ++i)
        if (!m_unreachable[i] && !m_mirrors[i]->connectionLost())
            return false;
    return true;
}

std::uint64_t CMirrorTransfer::lastReceived() const
{
    return m_mirrors[m_current]->lastReceived();
}

IFileTransfer::Validators CMirrorTransfer::lastValidators() const
{
    return m_mirrors[m_current]->lastValidators();
}

bool CMirrorTransfer::notModified() const
{
    return m_mirrors[m_current]->notModified();
}

bool CMirrorTransfer::allowsSeveralSessions() const
{
    for (const std::unique_ptr<IFileTransfer> &mirror : m_mirrors) {
        if (!mirror->allowsSeveralSessions())
            return false;
    }
    return true;
}

bool CMirrorTransfer::GetRanges(const std::string &remoteName, const std::vector<ByteRange> &ranges,
                                const RangeSink &sink, RangeOptions &options)
{
    IFileTransfer &mirror = *m_mirrors[m_current];
    const bool worked =
        m_connected && bring(m_current) && mirror.GetRanges(remoteName, ranges, sink, options);
    m_lastError = worked ? std::string() : mirror.host() + ": " + mirror.lastError();
    return worked;
}
