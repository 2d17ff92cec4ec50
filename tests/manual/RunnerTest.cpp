#include "RunnerOptions.h"
#include "ScriptTestHost.h"

#include "config/ScriptWriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

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

TEST(RunnerOptionsTest, TargetsFolderAndScriptArgumentsOrARefusal)
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

    o = Parse({"--simulator=basic", "--password=pw", "--", "--odd-name.kvc"});
    EXPECT_EQ(o.simProfile, "basic");
    EXPECT_EQ(o.password, "pw");
    EXPECT_EQ(o.invocation, "--odd-name.kvc");
    // A name with a blank is quoted for the interpreter; arguments can't hold one.
    EXPECT_EQ(Parse({"my setup.kvc", "1"}).invocation, "\"my setup.kvc\" 1");
    EXPECT_TRUE(Parse({"--help"}).help);

    // The receiver options' own refusals are the shared parser's (tests/link); here the runner's.
    Parse({}, false);
    Parse({"--tcp", "nohost", "a"}, false);
    Parse({"--password=", "a"}, false);
    Parse({"--verbose", "a"}, false);
    Parse({"a", ""}, false);
    Parse({"a", "b c"}, false);
    Parse({"a", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}, false);

    // A setup is compared from the file it names, without arguments; --json alone compares.
    o = Parse({"--folder", "/srv", "--apply-differences", "--json", "my base.kvc"});
    EXPECT_EQ(o.mode, RunnerOptions::Mode::ApplyDifferences);
    EXPECT_TRUE(o.json);
    EXPECT_EQ(o.scriptPath, "/srv/my base.kvc");
    EXPECT_EQ(Parse({"--json", "a.kvc"}).mode, RunnerOptions::Mode::Check);
    Parse({"--check", "a.kvc", "1"}, false);
}

// nemola-run against nemola-sim on a local TCP port, both as separate processes.
class RunnerEndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_port = StartTcpSim(m_sim, QStringLiteral(NEMOLA_SIM_PATH));
        ASSERT_NE(m_port, 0);
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
    // Runs nemola-run on the receiver at `port` (the simulator's by default) with the script folder, handling the
    // events of this process (scripted peers) meanwhile.
    Result Run(const QStringList& script, int port = 0, const QString& outputFile = {})
    {
        QProcess run;
        if (!outputFile.isEmpty()) {
            run.setStandardOutputFile(outputFile);
        }
        m_running = &run;
        run.start(
            QStringLiteral(NEMOLA_RUN_PATH),
            QStringList{"--tcp", QString("127.0.0.1:%1").arg(port ? port : m_port), "--folder", m_dir.path()} + script);
        QElapsedTimer t;
        t.start();
        while (!run.waitForFinished(10) && run.state() != QProcess::NotRunning && t.elapsed() < 60000) {
            QCoreApplication::processEvents();
        }
        m_running = nullptr;
        const bool ended = run.state() == QProcess::NotRunning;
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
    QProcess* m_running = nullptr;
};

TEST_F(RunnerEndToEndTest, ExitCodesTellHowTheScriptEnded)
{
    WriteLatin1Script(m_dir.filePath("ok.kvc"), "%m%print,/par/rcv/model\r\n@echo model=@0 rate=@1\r\n@call port\r\n");
    WriteLatin1Script(m_dir.filePath("port.kvs"), "@echo off\nprint,/cur/term\n");
    WriteLatin1Script(m_dir.filePath("bad.kvc"), "@echo off\nprint,/par/no/such\n@echo not reached\n");
    WriteLatin1Script(m_dir.filePath("stop.kvc"), "@echo Script execution aborted.\n@stop\n@echo not reached\n");

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

    // A script that stops itself (a setup header that found another model) has a status of its own.
    r = Run({"stop.kvc"});
    EXPECT_EQ(r.code, 3);
    EXPECT_FALSE(r.out.contains("not reached"));
    EXPECT_TRUE(r.err.contains("\"@stop\"")) << r.err.toStdString();

    r = Run({"ok.kvc"}, 0, "/dev/full");
    EXPECT_EQ(r.code, 4);
    EXPECT_TRUE(r.err.contains("can't write the output")) << r.err.toStdString();

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

// A TCP receiver in this process. It answers the model probe at once and every other statement as `rule` says:
// with the value 1 after that many milliseconds, never, or by closing the connection.
class CScriptedPeer : public QObject
{
public:
    static constexpr int kNever = -1;
    static constexpr int kClose = -2;

    explicit CScriptedPeer(std::function<int(const QByteArray& command)> rule) : m_rule(std::move(rule))
    {
        EXPECT_TRUE(m_server.listen(QHostAddress::LocalHost, 0));
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = m_server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                while (socket->canReadLine()) {
                    Reply(socket, socket->readLine().trimmed());
                }
            });
        });
    }
    int Port() const { return m_server.serverPort(); }

private:
    void Reply(QTcpSocket* socket, const QByteArray& statement)
    {
        const QByteArray tag = statement.left(statement.startsWith('%') ? statement.indexOf('%', 1) + 1 : 0);
        const QByteArray command = statement.mid(tag.size());
        const int rule = command == "print,/par/rcv/model" ? 0 : m_rule(command);
        const QByteArray body = tag + "1";
        const QByteArray frame = "RE" + QByteArray::number(body.size(), 16).rightJustified(3, '0') + body + "\r\n";
        if (rule == kClose) {
            socket->disconnectFromHost();
        } else if (rule >= 0) {
            QTimer::singleShot(rule, socket, [socket, frame] { socket->write(frame); });
        }
    }

    QTcpServer m_server;
    std::function<int(const QByteArray&)> m_rule;
};

TEST_F(RunnerEndToEndTest, SilentSlowOrLostReceiverAndSignalsEndTheRunAtOnce)
{
    QElapsedTimer signalled;
    CScriptedPeer peer([&](const QByteArray& command) {
        if (command.contains("signal")) {
            ::kill(pid_t(m_running->processId()), SIGTERM);
            signalled.start();
        }
        if (command.contains("slow")) {
            return 1800;  // more than the link's default time-out
        }
        return command.contains("drop") ? CScriptedPeer::kClose : CScriptedPeer::kNever;
    });
    const struct
    {
        const char* script;
        int code;
        const char* shown;  // on stderr, or on stdout for a run that ends well
    } cases[] = {
        {"@stoponerrors off\n@timeout 300\nprint,/par/silent\n@echo not reached\n", 2, "No reply from the receiver"},
        {"@stoponerrors off\nprint,/par/drop\n@echo not reached\n", 2, "Link lost"},
        {"print,/par/slow\n@echo not reached\n", 2, "No reply from the receiver"},
        {"@timeout 4000\nprint,/par/slow\n@echo got @0\n", 0, "> got 1"},
        {"@timeout 60000\nprint,/par/signal\n@echo not reached\n", 1, "Aborted by user!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        WriteLatin1Script(m_dir.filePath("run.kvc"), c.script);
        const Result r = Run({"run.kvc"}, peer.Port());
        EXPECT_LT(signalled.isValid() ? signalled.elapsed() : 0, 1000);
        EXPECT_EQ(r.code, c.code) << r.err.toStdString();
        EXPECT_TRUE((c.code ? r.err : r.out).contains(c.shown)) << r.out.toStdString() << r.err.toStdString();
        EXPECT_FALSE(r.out.contains("not reached"));
        EXPECT_FALSE(r.err.contains("An error reply"));
        EXPECT_FALSE(r.err.contains("in time")) << "the signal ended the run only by the watcher's last resort";
    }
}

// A quick command's record is written with the next ones, but a command that waits for its reply never holds
// back what came before it: a reader of the pipe sees it while the command waits.
TEST_F(RunnerEndToEndTest, WhatCameBeforeACommandThatWaitsCanBeReadWhileItWaits)
{
    QString seenWhileWaiting;
    CScriptedPeer peer([&](const QByteArray& command) {
        if (!command.contains("wait")) {
            return 0;
        }
        QTimer::singleShot(500, [&] { seenWhileWaiting = QString::fromUtf8(m_running->readAllStandardOutput()); });
        return 1000;
    });
    WriteLatin1Script(m_dir.filePath("run.kvc"), "print,/par/first\n@echo between\nprint,/par/wait\n");
    const Result r = Run({"run.kvc"}, peer.Port());
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(seenWhileWaiting.contains("> between\n>print,/par/wait\n")) << seenWhileWaiting.toStdString();
}

// --check and --apply-differences against a simulator that refuses, keeps, lacks and rounds parameters.
TEST_F(RunnerEndToEndTest, CheckAndApplyDifferencesTellWhatTheReceiverDidByTheirStatus)
{
    m_sim.kill();
    m_sim.waitForFinished(5000);
    m_port = StartTcpSim(
        m_sim, QStringLiteral(NEMOLA_SIM_PATH),
        {"--refuse-param", "/par/pos/elm", "--keep-param", "/par/ant/inp", "--missing-param", "/par/pos/raim/mode"});
    ASSERT_NE(m_port, 0);
    const auto write = [this](const QString& name, const QString& model, const QStringList& page) {
        WriteLatin1Script(m_dir.filePath(name),
                          (SetupScriptHeader("Version 0.1.0 ", "(test)", model) + page).join("\r\n") + "\r\n");
    };
    const QString model = "Vireo-Z3";  // the simulator's default profile
    write("same.kvc", model, {"%/par/lpm%set,/par/lpm,off", "%/par/pos/pdop%set,/par/pos/pdop,30"});
    write("job.kvc", model,
          {"%/par/lpm%set,/par/lpm,on", "%/par/pos/pdop%set,/par/pos/pdop,6.57", "%/par/pos/elm%set,/par/pos/elm,12",
           "%/par/ant/inp%set,/par/ant/inp,int", "%/par/pos/raim/mode%set,/par/pos/raim/mode,on",
           "%dm,/dev/ser/b%dm,/dev/ser/b",
           "%em,/dev/ser/b,kvs/PG:{1.00,0.00,-1,0}%em,/dev/ser/b,kvs/PG:{1.00,0.00,-1,0}"});
    write("other.kvc", "Other-Model", {"%/par/lpm%set,/par/lpm,on"});

    Result r = Run({"--check", "same.kvc"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QString());

    r = Run({"--check", "job.kvc"});
    EXPECT_EQ(r.code, 5) << r.err.toStdString();
    EXPECT_EQ(r.out.split('\n', Qt::SkipEmptyParts),
              (QStringList{"/par/lpm: setup on, receiver off", "/par/pos/pdop: setup 6.57, receiver 30.0",
                           "/par/pos/elm: setup 12, receiver 5", "/par/ant/inp: setup int, receiver auto",
                           "/par/pos/raim/mode: setup on, receiver: not on this receiver",
                           "/par/out/dev/ser/b: setup kvs/PG:{1.00,0.00,-1,0}, receiver none"}));
    EXPECT_TRUE(r.err.contains("not compared")) << r.err.toStdString();

    r = Run({"--json", "job.kvc"});
    EXPECT_EQ(r.code, 5);
    const QJsonArray rows = QJsonDocument::fromJson(r.out.toUtf8()).array();
    ASSERT_EQ(rows.size(), 6);
    EXPECT_EQ(rows[0].toObject().value("path").toString(), "/par/lpm");
    EXPECT_EQ(rows[0].toObject().value("setup").toString(), "on");
    EXPECT_EQ(rows[0].toObject().value("receiver").toString(), "off");
    EXPECT_EQ(rows[0].toObject().value("state").toString(), "differs");
    EXPECT_TRUE(rows[4].toObject().value("receiver").isNull());
    EXPECT_EQ(rows[4].toObject().value("state").toString(), "missing");

    // A refusal wins over the values the receiver kept.
    r = Run({"--apply-differences", "job.kvc"});
    EXPECT_EQ(r.code, 1) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("/par/lpm: setup on, receiver on (verified)")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("/par/pos/pdop: setup 6.57, receiver 6.6 (the receiver kept 6.6)"));
    EXPECT_TRUE(r.out.contains("/par/ant/inp: setup int, receiver auto (the receiver kept auto)"));
    EXPECT_TRUE(r.out.contains("/par/pos/elm: setup 12, receiver 5 (refused: {7,,parameter locked})"));
    EXPECT_TRUE(
        r.out.contains("/par/out/dev/ser/b: setup kvs/PG:{1.00,0.00,-1,0}, receiver kvs/PG:{1.00,0.00,-1,0} "
                       "(verified)"));

    write("round.kvc", model, {"%/par/lpm%set,/par/lpm,on", "%/par/pos/pdop%set,/par/pos/pdop,6.57"});
    EXPECT_EQ(Run({"--apply-differences", "round.kvc"}).code, 6);
    write("lacks.kvc", model, {"%/par/lpm%set,/par/lpm,on", "%/par/pos/raim/mode%set,/par/pos/raim/mode,on"});
    EXPECT_EQ(Run({"--apply-differences", "lacks.kvc"}).code, 5);
    write("done.kvc", model, {"%/par/lpm%set,/par/lpm,on"});
    EXPECT_EQ(Run({"--apply-differences", "done.kvc"}).code, 0);

    r = Run({"--check", "other.kvc"});
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(r.err.contains("This script was generated for Other-Model receiver")) << r.err.toStdString();
    EXPECT_EQ(Run({"--check", "job.kvc", "arg"}).code, 2);
}

}  // namespace
