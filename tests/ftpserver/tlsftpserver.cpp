#include "tlsftpserver.h"

#include "childprocess.h"
#include "ftpserver.h"
#include "testfiles.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The uid and gid the server runs the virtual user's session as.
constexpr const char *kSessionId = "65534";

const QString kPureFtpd = QStringLiteral(PURE_FTPD_ROOT "/usr/sbin/pure-ftpd");
const QString kPurePw = QStringLiteral(PURE_FTPD_ROOT "/usr/bin/pure-pw");

bool run(const QString &program, const QStringList &arguments, QString &error)
{
    const ProgramRun done = runProgram(QStringList{program} + arguments);
    if (done.exitCode == 0)
        return true;
    error = program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) + QStringLiteral(": ") + done.output
        + done.errors;
    return false;
}

quint16 freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    quint16 port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

bool accepts(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

// Key and certificate in one PEM file, as pure-ftpd reads them.
bool makeSigned(const QString &folder, const QString &name, const QString &subjectName,
                const QString &authority, QString &error)
{
    const QString key = folder + QLatin1Char('/') + name + QStringLiteral(".key");
    const QString request = folder + QLatin1Char('/') + name + QStringLiteral(".csr");
    const QString certificate = folder + QLatin1Char('/') + name + QStringLiteral(".crt");
    const QString extensions = folder + QLatin1Char('/') + name + QStringLiteral(".ext");
    if (!writeFile(extensions, QStringLiteral("subjectAltName=%1\n").arg(subjectName).toLatin1())
        || !run(QStringLiteral("openssl"),
                {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", key,
                 "-out", request, "-subj", "/CN=" + subjectName.section(QLatin1Char(':'), 1)},
                error)
        || !run(QStringLiteral("openssl"),
                {"x509", "-req", "-in", request, "-CA", authority + ".pem", "-CAkey", authority + ".key",
                 "-CAcreateserial", "-days", "2", "-extfile", extensions, "-out", certificate},
                error))
        return false;
    return writeFile(folder + QLatin1Char('/') + name + QStringLiteral(".pem"),
                     readFile(key) + readFile(certificate));
}

bool makeAuthority(const QString &folder, const QString &name, QString &error)
{
    const QString base = folder + QLatin1Char('/') + name;
    return run(QStringLiteral("openssl"),
               {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout",
                base + ".key", "-out", base + ".pem", "-days", "2", "-subj",
                "/CN=Spelmar test authority " + name},
               error);
}

} // namespace

bool TlsFtpTestServer::makeCertificates(const QString &folder, QString &error)
{
    return makeAuthority(folder, QStringLiteral("ca"), error)
        && makeAuthority(folder, QStringLiteral("otherca"), error)
        && makeSigned(folder, QStringLiteral("server"), QStringLiteral("IP:127.0.0.1"),
                      folder + QStringLiteral("/ca"), error)
        && makeSigned(folder, QStringLiteral("othername"), QStringLiteral("DNS:update.invalid"),
                      folder + QStringLiteral("/ca"), error)
        && makeSigned(folder, QStringLiteral("stranger"), QStringLiteral("IP:127.0.0.1"),
                      folder + QStringLiteral("/otherca"), error);
}

QString TlsFtpTestServer::unavailable()
{
    if (!QFileInfo(kPureFtpd).isExecutable())
        return kPureFtpd + QStringLiteral(" is missing (scripts/install-deps.sh unpacks it)");
    if (::geteuid() != 0)
        return QStringLiteral("Debian's pure-ftpd logs users in only when run as root");
    return QString();
}

TlsFtpTestServer::TlsFtpTestServer(const QString &rootFolder, const QString &certificate)
    : m_rootFolder(rootFolder)
    , m_certificate(certificate)
{
}

TlsFtpTestServer::~TlsFtpTestServer()
{
    stop();
}

bool TlsFtpTestServer::start(int timeoutMs)
{
    stop();
    m_errorText = unavailable();
    if (!m_errorText.isEmpty())
        return false;
    // The session runs as an unprivileged user, who must reach the files
    // (in the test's temporary folders).
    const QString temporary = QDir::tempPath();
    for (QString folder = m_rootFolder; folder.startsWith(temporary + QLatin1Char('/'));
         folder = QFileInfo(folder).path()) {
        struct stat info = {};
        if (::stat(QFile::encodeName(folder).constData(), &info) == 0)
            ::chmod(QFile::encodeName(folder).constData(), (info.st_mode & 07777) | 0005);
    }
    m_stateFolder = m_rootFolder + QStringLiteral(".pure-ftpd");
    QDir().mkpath(m_stateFolder);
    const QString passwd = m_stateFolder + QStringLiteral("/pureftpd.passwd");
    const QString database = m_stateFolder + QStringLiteral("/pureftpd.pdb");
    QFile::remove(passwd);
    QFile::remove(database);
    // The account's line written here with a SHA-512 crypt hash: pure-pw's
    // own hash costs seconds at every login.
    const ProgramRun hash = runProgram({QStringLiteral("openssl"), "passwd", "-6", FtpTestServer::kPassword});
    if (hash.exitCode != 0) {
        m_errorText = QStringLiteral("openssl passwd failed: ") + hash.errors;
        return false;
    }
    if (!writeFile(passwd,
                   QByteArray(FtpTestServer::kUser) + ':' + hash.output.trimmed().toLatin1() + ':'
                       + kSessionId + ':' + kSessionId + "::" + QFile::encodeName(m_rootFolder)
                       + "/./::::::::::::\n")) {
        m_errorText = QStringLiteral("cannot write ") + passwd;
        return false;
    }
    if (!run(kPurePw, {"mkdb", database, "-f", passwd}, m_errorText))
        return false;

    m_port = freeLoopbackPort();
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    endWithParent(m_process);
    m_process.start(kPureFtpd,
                    {"-S", QStringLiteral("127.0.0.1,%1").arg(m_port), "-l", "puredb:" + database, "-Y", "2",
                     "-2", m_certificate, "-E", "-H", "-A"});
    QDeadlineTimer deadline(timeoutMs);
    while (!accepts(m_port)) {
        if (m_process.state() == QProcess::NotRunning || deadline.hasExpired()) {
            m_errorText =
                QStringLiteral("pure-ftpd did not start: ") + QString::fromLocal8Bit(m_process.readAll());
            stop();
            return false;
        }
        QThread::msleep(20);
    }
    return true;
}

void TlsFtpTestServer::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    m_port = 0;
}

QString TlsFtpTestServer::host() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}
