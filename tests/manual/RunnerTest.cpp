#include "RunnerOptions.h"
#include "ScriptTestHost.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Parses `args`, expecting them to be accepted or refused with a reason.
RunnerOptions Parse(const QStringList& args, bool accepted = true)
{
    RunnerOptions o;
    QString error;
    EXPECT_EQ(ParseRunnerOptions(args, &o, &error), accepted) << args.join(' ').toStdString();
    EXPECT_EQ(error.isEmpty(), accepted) << args.join(' ').toStdString();
    return o;
}

TEST(RunnerOptionsTest, TargetsFolderAndScriptArguments)
{
    RunnerOptions o = Parse({"setup", "115200", "--on"});
    EXPECT_EQ(o.target, RunnerOptions::Target::Simulator);
    EXPECT_FALSE(o.targetGiven);
    EXPECT_EQ(o.folder, ".");
    EXPECT_EQ(o.invocation, "setup 115200 --on");

    o = Parse({"--tcp", "127.0.0.1:8002", "--folder=/srv/scripts", "a.kvc"});
    EXPECT_EQ(o.target, RunnerOptions::Target::Tcp);
    EXPECT_EQ(o.receiverName, "127.0.0.1:8002");
    EXPECT_EQ(o.folder, "/srv/scripts");

    o = Parse({"--serial=/dev/ttyUSB0,38400,rtscts", "cfg/fleet/base.kvc", "x"});
    EXPECT_EQ(o.target, RunnerOptions::Target::Serial);
    EXPECT_EQ(o.receiverName, "/dev/ttyUSB0:38400,rtscts");
    EXPECT_EQ(o.folder, "cfg/fleet");
    EXPECT_EQ(o.invocation, "base.kvc x");

    o = Parse({"--simulator=basic", "--", "--odd-name.kvc"});
    EXPECT_EQ(o.simProfile, "basic");
    EXPECT_EQ(o.invocation, "--odd-name.kvc");
    EXPECT_TRUE(Parse({"--help"}).help);
}

TEST(RunnerOptionsTest, RefusesWhatCannotRun)
{
    Parse({}, false);
    Parse({"--tcp", "nohost", "a"}, false);
    Parse({"--tcp", "h:99999", "a"}, false);
    Parse({"--tcp"}, false);
    Parse({"--serial", "ttyUSB0,fast", "a"}, false);
    Parse({"--tcp", "h:1", "--serial", "/dev/ttyS0", "a"}, false);
    Parse({"--verbose", "a"}, false);
    Parse({"a", ""}, false);
    Parse({"a", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}, false);
}

// nemola-run against nemola-sim on a local TCP port, both as separate processes.
class RunnerEndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_sim.start(QStringLiteral(NEMOLA_SIM_PATH), {"--tcp", "0"});
        ASSERT_TRUE(m_sim.waitForStarted(10000));
        const QRegularExpression portLine("tcp port (\\d+)");
        QByteArray out;
        for (int i = 0; i < 100 && m_port == 0; ++i) {
            if (!m_sim.canReadLine()) {
                m_sim.waitForReadyRead(200);
            }
            out += m_sim.readAll();
            m_port = portLine.match(QString::fromLatin1(out)).captured(1).toInt();
        }
        ASSERT_NE(m_port, 0) << out.toStdString();
    }
    void TearDown() override
    {
        m_sim.kill();
        m_sim.waitForFinished(5000);
    }

    struct Result
    {
        int code = -1;
        QString out;
        QString err;
    };
    // Runs nemola-run on the receiver at `port` (the simulator's by default) with the script folder.
    Result Run(const QStringList& script, int port = 0)
    {
        QProcess run;
        run.start(
            QStringLiteral(NEMOLA_RUN_PATH),
            QStringList{"--tcp", QString("127.0.0.1:%1").arg(port ? port : m_port), "--folder", m_dir.path()} + script);
        const bool ended = run.waitForFinished(60000);
        EXPECT_TRUE(ended) << "nemola-run did not end";
        if (!ended) {
            run.kill();
            run.waitForFinished(5000);
        }
        return {ended && run.exitStatus() == QProcess::NormalExit ? run.exitCode() : -1,
                QString::fromUtf8(run.readAllStandardOutput()), QString::fromUtf8(run.readAllStandardError())};
    }

    QTemporaryDir m_dir;
    QProcess m_sim;
    int m_port = 0;
};

TEST_F(RunnerEndToEndTest, ExitCodesTellHowTheScriptEnded)
{
    WriteLatin1Script(m_dir.filePath("ok.kvc"), "%m%print,/par/rcv/model\r\n@echo model=@0 rate=@1\r\n@call port\r\n");
    WriteLatin1Script(m_dir.filePath("port.kvs"), "@echo off\nprint,/cur/term\n");
    WriteLatin1Script(m_dir.filePath("bad.kvc"), "@echo off\nprint,/par/no/such\n@echo not reached\n");

    Result r = Run({"ok.kvc", "57600"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(">%m%print,/par/rcv/model\n")) << r.out.toStdString();
    EXPECT_TRUE(QRegularExpression("> model=\\S+ rate=57600\n").match(r.out).hasMatch()) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("/dev/tcp/")) << r.out.toStdString();

    r = Run({"bad.kvc"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.contains(">Stop receiver reply : An error reply from the receiver\n"));
    EXPECT_FALSE(r.out.contains("not reached"));
    EXPECT_TRUE(r.err.contains("An error reply from the receiver"));

    r = Run({"absent"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("Unable to open " + m_dir.path() + "/absent.kvs")) << r.err.toStdString();

    r = Run({});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains("no script given"));

    // No receiver on the port is a connection failure.
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const int closedPort = probe.serverPort();
    probe.close();
    r = Run({"ok.kvc"}, closedPort);
    EXPECT_EQ(r.code, 2);
    EXPECT_FALSE(r.out.contains("model="));
}

}  // namespace
