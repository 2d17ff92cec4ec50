#include "RunnerOptions.h"
#include "ScriptTestHost.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

RunnerOptions Parse(const QStringList& args, QString* error = nullptr)
{
    RunnerOptions options;
    QString ignored;
    EXPECT_TRUE(ParseRunnerOptions(args, &options, error ? error : &ignored)) << args.join(' ').toStdString();
    return options;
}

QString Refused(const QStringList& args)
{
    RunnerOptions options;
    QString error;
    EXPECT_FALSE(ParseRunnerOptions(args, &options, &error)) << args.join(' ').toStdString();
    return error;
}

TEST(RunnerOptionsTest, TargetsFolderAndScriptArguments)
{
    RunnerOptions o = Parse({"setup", "115200", "--on"});
    EXPECT_EQ(o.target, RunnerOptions::Target::Simulator);
    EXPECT_FALSE(o.targetGiven);
    EXPECT_EQ(o.folder, QStringLiteral("."));
    EXPECT_EQ(o.invocation, QStringLiteral("setup 115200 --on"));

    o = Parse({"--tcp", "127.0.0.1:8002", "--folder=/srv/scripts", "a.kvc"});
    EXPECT_EQ(o.target, RunnerOptions::Target::Tcp);
    EXPECT_EQ(o.receiverName, QStringLiteral("127.0.0.1:8002"));
    EXPECT_EQ(o.folder, QStringLiteral("/srv/scripts"));

    o = Parse({"--serial=/dev/ttyUSB0,38400,rtscts", "cfg/fleet/base.kvc", "x"});
    EXPECT_EQ(o.target, RunnerOptions::Target::Serial);
    EXPECT_EQ(o.receiverName, QStringLiteral("/dev/ttyUSB0:38400,rtscts"));
    EXPECT_EQ(o.folder, QStringLiteral("cfg/fleet"));
    EXPECT_EQ(o.invocation, QStringLiteral("base.kvc x"));

    o = Parse({"--simulator=basic", "--", "--odd-name.kvc"});
    EXPECT_EQ(o.simProfile, QStringLiteral("basic"));
    EXPECT_EQ(o.invocation, QStringLiteral("--odd-name.kvc"));

    EXPECT_TRUE(Parse({"--help"}).help);
}

TEST(RunnerOptionsTest, RefusesWhatCannotRun)
{
    EXPECT_EQ(Refused({}), QStringLiteral("no script given"));
    EXPECT_FALSE(Refused({"--tcp", "nohost", "a"}).isEmpty());
    EXPECT_FALSE(Refused({"--tcp", "h:99999", "a"}).isEmpty());
    EXPECT_FALSE(Refused({"--tcp"}).isEmpty());
    EXPECT_FALSE(Refused({"--serial", "ttyUSB0,fast", "a"}).isEmpty());
    EXPECT_FALSE(Refused({"--tcp", "h:1", "--serial", "/dev/ttyS0", "a"}).isEmpty());
    EXPECT_FALSE(Refused({"--verbose", "a"}).isEmpty());
    EXPECT_FALSE(Refused({"a", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}).isEmpty());
    EXPECT_FALSE(Refused({"a", ""}).isEmpty());
}

// nemola-run against nemola-sim on a local TCP port, both as separate processes.
class RunnerEndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_sim.start(QStringLiteral(NEMOLA_SIM_PATH), {QStringLiteral("--tcp"), QStringLiteral("0")});
        ASSERT_TRUE(m_sim.waitForStarted(10000));
        const QRegularExpression portLine(QStringLiteral("tcp port (\\d+)"));
        QByteArray out;
        for (int i = 0; i < 100 && m_port == 0; ++i) {
            if (!m_sim.canReadLine()) {
                m_sim.waitForReadyRead(200);
            }
            while (m_sim.canReadLine()) {
                out += m_sim.readLine();
            }
            const auto match = portLine.match(QString::fromLatin1(out));
            if (match.hasMatch()) {
                m_port = match.captured(1).toInt();
            }
        }
        ASSERT_NE(m_port, 0) << out.toStdString();
    }
    void TearDown() override
    {
        m_sim.terminate();
        if (!m_sim.waitForFinished(10000)) {
            m_sim.kill();
            m_sim.waitForFinished(5000);
        }
    }

    struct Result
    {
        int code = -1;
        QString out;
        QString err;
    };
    Result Run(const QStringList& args)
    {
        QProcess run;
        run.start(QStringLiteral(NEMOLA_RUN_PATH), args);
        Result r;
        if (!run.waitForFinished(60000)) {
            run.kill();
            run.waitForFinished(5000);
            ADD_FAILURE() << "nemola-run did not end";
            return r;
        }
        r.code = run.exitStatus() == QProcess::NormalExit ? run.exitCode() : -1;
        r.out = QString::fromUtf8(run.readAllStandardOutput());
        r.err = QString::fromUtf8(run.readAllStandardError());
        return r;
    }
    QStringList Target() const
    {
        return {QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:%1").arg(m_port), QStringLiteral("--folder"),
                m_dir.path()};
    }

    QTemporaryDir m_dir;
    QProcess m_sim;
    int m_port = 0;
};

TEST_F(RunnerEndToEndTest, ExitCodesTellHowTheScriptEnded)
{
    WriteLatin1Script(m_dir.filePath(QStringLiteral("ok.kvc")),
                      QStringLiteral("%m%print,/par/rcv/model\r\n@echo model=@0 rate=@1\r\n@call port\r\n"));
    WriteLatin1Script(m_dir.filePath(QStringLiteral("port.kvs")), QStringLiteral("@echo off\nprint,/cur/term\n"));
    WriteLatin1Script(m_dir.filePath(QStringLiteral("bad.kvc")),
                      QStringLiteral("@echo off\nprint,/par/no/such\n@echo not reached\n"));

    Result r = Run(Target() << QStringLiteral("ok.kvc") << QStringLiteral("57600"));
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral(">%m%print,/par/rcv/model\n"))) << r.out.toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("> model=\\S+ rate=57600\n")).match(r.out).hasMatch())
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("/dev/tcp/"))) << r.out.toStdString();

    r = Run(Target() << QStringLiteral("bad.kvc"));
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.contains(QStringLiteral(">Stop receiver reply : An error reply from the receiver\n")));
    EXPECT_FALSE(r.out.contains(QStringLiteral("not reached")));
    EXPECT_TRUE(r.err.contains(QStringLiteral("An error reply from the receiver")));

    r = Run(Target() << QStringLiteral("absent"));
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Unable to open ") + m_dir.path() + QStringLiteral("/absent.kvs")))
        << r.err.toStdString();

    r = Run(Target());
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("no script given")));
}

TEST_F(RunnerEndToEndTest, NoReceiverOnThePortIsAConnectionFailure)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 closedPort = probe.serverPort();
    probe.close();
    WriteLatin1Script(m_dir.filePath(QStringLiteral("ok.kvc")), QStringLiteral("@echo hi\n"));
    const Result r = Run({QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:%1").arg(closedPort),
                          QStringLiteral("--folder"), m_dir.path(), QStringLiteral("ok.kvc")});
    EXPECT_EQ(r.code, 2);
    EXPECT_FALSE(r.out.contains(QStringLiteral("hi")));
}

}  // namespace
