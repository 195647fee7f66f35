#include "ftpfileclient.h"

CFtpFileClient::CFtpFileClient(IPrompt *prompt, const std::string &host) : m_prompt(prompt), m_host(host) {}
CFtpFileClient::~CFtpFileClient() = default;
bool CFtpFileClient::Connect(const std::string &) { return false; }
bool CFtpFileClient::SetCurrentDirectory(const std::string &) { return false; }
bool CFtpFileClient::FindFile(const std::string &) { return false; }
bool CFtpFileClient::GetFile(const std::string &, const std::string &) { return false; }
bool CFtpFileClient::GetFile(const std::string &, const std::string &, const GetFileOptions &) { return false; }
bool CFtpFileClient::Close() { return true; }
bool CFtpFileClient::PutFile(const std::string &) { return false; }
std::string CFtpFileClient::GetCurrentDirectory() const { return {}; }
std::string CFtpFileClient::GetCurrentDirectoryAsURL() const { return {}; }
std::string CFtpFileClient::FindNextFile() { return {}; }
void CFtpFileClient::setHost(const std::string &host) { m_host = host; }
std::string CFtpFileClient::host() const { return m_host; }
void CFtpFileClient::setUserName(const std::string &userName) { m_userName = userName; }
void CFtpFileClient::setPassword(const std::string &password) { m_password = password; }
void CFtpFileClient::setPassive(bool passive) { m_passive = passive; }
bool CFtpFileClient::passive() const { return m_passive; }
void CFtpFileClient::setCancelFlag(const std::atomic<bool> *cancel) { m_cancel = cancel; }
bool CFtpFileClient::isConnected() const { return m_connected; }
bool CFtpFileClient::found() const { return m_found; }
std::string CFtpFileClient::lastFoundName() const { return m_lastFoundName; }
std::string CFtpFileClient::lastError() const { return m_lastError; }
