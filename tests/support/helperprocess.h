#pragma once
// The test program started again in one of its helper roles (its main() picks the role
// from the arguments): the helper prints a first line when it is ready and runs until the
// end of its input.

#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <grp.h>
#include <sys/types.h>
#include <unistd.h>

class HelperProcess
{
public:
    ~HelperProcess() { stop(); }

    // Starts the helper, as user uid when it is not 0, and waits for its first line.
    bool start(const QStringList &args, uid_t uid = 0)
    {
        if (uid != 0) {
            m_process.setChildProcessModifier([uid] {
                // Between fork and exec: only calls that are safe there.
                ::setgroups(0, nullptr);
                if (::setgid(uid) != 0 || ::setuid(uid) != 0)
                    ::_exit(99);
            });
        }
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QCoreApplication::applicationFilePath(), args);
        if (!m_process.waitForStarted(10000))
            return false;
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(20000))
                return false;
        }
        firstLine = QString::fromUtf8(m_process.readLine()).trimmed();
        return true;
    }
    // Lets the helper go (it waits for the end of its input) and collects what it said
    // after its first line.
    QStringList stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return m_rest;
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(20000))
            m_process.kill();
        m_process.waitForFinished(5000);
        for (const QByteArray &line : m_process.readAllStandardOutput().split('\n'))
            if (!line.trimmed().isEmpty())
                m_rest.append(QString::fromUtf8(line.trimmed()));
        exitCode = m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
        return m_rest;
    }

    QString firstLine;
    int exitCode = -1;

private:
    QProcess m_process;
    QStringList m_rest;
};
