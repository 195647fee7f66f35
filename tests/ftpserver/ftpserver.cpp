#include "ftpserver.h"

#include "childprocess.h"
#include "testfiles.h"

#include <QDeadlineTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kPureFtpd = QStringLiteral(PURE_FTPD_ROOT "/usr/sbin/pure-ftpd");

bool run(const QStringList &command, QString &error)
{
    const ProgramRun done = runProgram(command);
    if (done.exitCode != 0)
        error = command.join(QLatin1Char(' ')) + QStringLiteral(": ") + done.output + done.errors;
    return done.exitCode == 0;
}

// Binds (port 0: any free port) or connects a loopback socket; the port, 0 on failure.
quint16 loopback(quint16 port, bool connect)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    auto *raw = reinterpret_cast<sockaddr *>(&address);
    const bool ok = fd >= 0
        && (connect ? ::connect(fd, raw, length) == 0
                    : ::bind(fd, raw, length) == 0 && ::getsockname(fd, raw, &length) == 0);
    if (fd >= 0)
        ::close(fd);
    return ok ? ntohs(address.sin_port) : 0;
}

// Without an authority, an authority's certificate (base.pem); else key
// and certificate for subject (IP:… or DNS:…) in one PEM file, as
// pure-ftpd reads them, signed by the authority. Paths without spaces.
bool makeCertificate(const QString &base, const QString &subject, const QString &authority, QString &error)
{
    QString command = QString("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 "
                              "-keyout %1.key -out %1.crt -subj /CN=%2")
                          .arg(base, subject.section(':', -1));
    if (!authority.isEmpty())
        command +=
            QString(" -addext subjectAltName=%1 -addext basicConstraints=CA:FALSE -CA %2.crt -CAkey %2.key")
                .arg(subject, authority);
    return run(command.split(' '), error)
        && writeFile(base + ".pem",
                     (authority.isEmpty() ? QByteArray() : readFile(base + ".key"))
                         + readFile(base + ".crt"));
}

} // namespace

FtpTestServer::FtpTestServer(const QString &rootFolder, const QStringList &extraArguments,
                             const QString &tlsCertificate)
    : m_rootFolder(rootFolder)
    , m_extraArguments(extraArguments)
    , m_certificate(tlsCertificate)
{
}

bool FtpTestServer::makeCertificates(const QString &folder, QString &error)
{
    const QString ca = folder + "/ca";
    const QString otherCa = folder + "/otherca";
    return makeCertificate(ca, "TestAuthority", QString(), error)
        && makeCertificate(otherCa, "OtherAuthority", QString(), error)
        && makeCertificate(folder + "/server", "IP:127.0.0.1", ca, error)
        && makeCertificate(folder + "/othername", "DNS:update.invalid", ca, error)
        && makeCertificate(folder + "/stranger", "IP:127.0.0.1", otherCa, error);
}

QString FtpTestServer::tlsUnavailable()
{
    if (!QFileInfo(kPureFtpd).isExecutable())
        return kPureFtpd + QStringLiteral(" is missing (scripts/install-deps.sh unpacks it)");
    if (::geteuid() != 0)
        return QStringLiteral("Debian's pure-ftpd logs users in only when run as root");
    return QString();
}

// pure-ftpd's account database, and access to the root folder for the
// unprivileged user (65534) it runs the session as.
bool FtpTestServer::prepareTls()
{
    for (QString folder = m_rootFolder; folder.startsWith(QDir::tempPath() + '/');
         folder = QFileInfo(folder).path()) {
        struct stat info = {};
        if (::stat(QFile::encodeName(folder).constData(), &info) == 0)
            ::chmod(QFile::encodeName(folder).constData(), (info.st_mode & 07777) | 0005);
    }
    const QString state = m_rootFolder + QStringLiteral(".pure-ftpd");
    QDir().mkpath(state);
    // A SHA-512 crypt hash: pure-pw's own costs seconds at every login.
    const ProgramRun hash = runProgram({"openssl", "passwd", "-6", kPassword});
    return hash.exitCode == 0
        && writeFile(state + "/pureftpd.passwd",
                     QByteArray(kUser) + ':' + hash.output.trimmed().toLatin1()
                         + ":65534:65534::" + QFile::encodeName(m_rootFolder) + "/./::::::::::::\n")
        && run({PURE_FTPD_ROOT "/usr/bin/pure-pw", "mkdb", state + "/pureftpd.pdb", "-f",
                state + "/pureftpd.passwd"},
               m_errorText);
}

bool FtpTestServer::start(int timeoutMs)
{
    stop();
    const bool tls = !m_certificate.isEmpty();
    m_errorText = tls ? tlsUnavailable() : QString();
    if (!m_errorText.isEmpty() || (tls && !prepareTls()))
        return false;
    // stdin stays an open pipe: ftpserver.py ends when it closes, so it
    // never outlives a crashed test (which SIGKILLs it as well).
    endWithParent(m_process);
    if (tls) {
        m_port = loopback(0, false);
        m_process.start(kPureFtpd,
                        {"-S", QStringLiteral("127.0.0.1,%1").arg(m_port), "-l",
                         "puredb:" + m_rootFolder + ".pure-ftpd/pureftpd.pdb", "-Y", "2", "-2", m_certificate,
                         "-E", "-H", "-A"});
    } else {
        m_process.start("/usr/bin/python3", QStringList{FTPSERVER_SCRIPT, m_rootFolder} + m_extraArguments);
    }
    QDeadlineTimer deadline(timeoutMs);
    while (tls ? loopback(m_port, true) == 0 : !m_process.canReadLine()) {
        if (m_process.state() == QProcess::NotRunning || deadline.hasExpired()) {
            m_errorText = "FTP test server did not start: "
                + QString::fromLocal8Bit(m_process.readAllStandardOutput()
                                         + m_process.readAllStandardError());
            stop();
            return false;
        }
        m_process.waitForReadyRead(50);
    }
    if (!tls)
        m_port = static_cast<quint16>(m_process.readLine().trimmed().toUInt());
    if (m_port == 0)
        m_errorText = QStringLiteral("FTP test server gave no port");
    return m_port != 0;
}

void FtpTestServer::stop()
{
    stopChild(m_process);
    m_port = 0;
}
