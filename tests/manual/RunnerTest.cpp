#include "RunnerOptions.h"
#include "ScriptTestHost.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

#include <sys/stat.h>

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

    o = Parse({"--simulator=basic", "--password=pw", "--", "--odd-name.kvc"});
    EXPECT_EQ(o.simProfile, "basic");
    EXPECT_EQ(o.password, "pw");
    EXPECT_EQ(o.invocation, "--odd-name.kvc");
    // A name with a blank is quoted for the interpreter; arguments can't hold one.
    EXPECT_EQ(Parse({"my setup.kvc", "1"}).invocation, "\"my setup.kvc\" 1");
    EXPECT_TRUE(Parse({"a"}).password.isNull());
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
    Parse({"a", "b c"}, false);
    Parse({"a\"b"}, false);
    Parse({"--password", "", "a"}, false);
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
        qint64 ms = 0;  // from Finish's call to the end
    };
    // Starts nemola-run on the receiver at `port` (the simulator's by default) with the script folder.
    void Start(QProcess& run, const QStringList& args, int port = 0)
    {
        run.start(
            QStringLiteral(NEMOLA_RUN_PATH),
            QStringList{"--tcp", QString("127.0.0.1:%1").arg(port ? port : m_port), "--folder", m_dir.path()} + args);
        ASSERT_TRUE(run.waitForStarted(10000));
    }
    // Handles the events of this process (scripted peers) while nemola-run runs, until `done` or its end.
    static void Pump(QProcess& run, QByteArray* out, const std::function<bool()>& done = nullptr, int limitMs = 60000)
    {
        QElapsedTimer t;
        t.start();
        while (run.state() != QProcess::NotRunning && !(done && done()) && t.elapsed() < limitMs) {
            run.waitForFinished(10);
            QCoreApplication::processEvents();
            *out += run.readAllStandardOutput();
        }
    }
    static Result Finish(QProcess& run, QByteArray out = {})
    {
        QElapsedTimer t;
        t.start();
        Pump(run, &out);
        const qint64 ms = t.elapsed();
        const bool ended = run.state() == QProcess::NotRunning;
        EXPECT_TRUE(ended) << "nemola-run did not end";
        if (!ended) {
            run.kill();
            run.waitForFinished(5000);
        }
        out += run.readAllStandardOutput();
        return {ended && run.exitStatus() == QProcess::NormalExit ? run.exitCode() : -1, QString::fromUtf8(out),
                QString::fromUtf8(run.readAllStandardError()), ms};
    }
    Result Run(const QStringList& args, int port = 0)
    {
        QProcess run;
        Start(run, args, port);
        return Finish(run);
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

    WriteLatin1Script(m_dir.filePath("stop.kvc"), "@echo Script execution aborted.\n@stop\n@echo not reached\n");
    ASSERT_EQ(mkfifo(m_dir.filePath("fifo.kvc").toLocal8Bit().constData(), 0600), 0);

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

    r = Run({"fifo.kvc"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("Unable to open " + m_dir.path() + "/fifo.kvc")) << r.err.toStdString();

    // A script that stops itself (a setup header that found another model) has a status of its own.
    r = Run({"stop.kvc"});
    EXPECT_EQ(r.code, 3);
    EXPECT_FALSE(r.out.contains("not reached"));
    EXPECT_TRUE(r.err.contains("\"@stop\"")) << r.err.toStdString();

    // Output that can't be written: a full disk, a reader that went away.
    QProcess full;
    full.setStandardOutputFile("/dev/full");
    Start(full, {"ok.kvc"});
    r = Finish(full);
    EXPECT_EQ(r.code, 4);
    EXPECT_TRUE(r.err.contains("can't write the output")) << r.err.toStdString();
    WriteLatin1Script(m_dir.filePath("talk.kvc"), "@echo one\n@sleep 300\n@echo two\n@sleep 300\n@echo three\n");
    QProcess writer;
    QProcess head;
    writer.setStandardOutputProcess(&head);
    head.start("head", {"-c1"});
    Start(writer, {"talk.kvc"});
    r = Finish(writer);
    EXPECT_EQ(r.code, 4);
    EXPECT_TRUE(r.err.contains("can't write the output")) << r.err.toStdString();
    head.waitForFinished(5000);

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

// A TCP receiver in this process that answers the statements of its peer as a rule says: with a value (after a
// delay), never, or by closing the connection. The model probe is always answered. With a password it asks for
// a login first.
class CScriptedPeer : public QObject
{
public:
    enum class Answer { Value, Never, Close };
    struct Rule
    {
        Answer answer = Answer::Value;
        int delayMs = 0;
    };

    explicit CScriptedPeer(std::function<Rule(const QByteArray& command)> rule, QByteArray password = {})
        : m_rule(std::move(rule)), m_password(std::move(password))
    {
        EXPECT_TRUE(m_server.listen(QHostAddress::LocalHost, 0));
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                Serve(socket);
            }
        });
    }
    int Port() const { return m_server.serverPort(); }
    bool Received(const QByteArray& command) const
    {
        return std::any_of(m_commands.begin(), m_commands.end(), [&](const auto& c) { return c.contains(command); });
    }

private:
    static QByteArray Frame(const char* id, const QByteArray& body)
    {
        return id + QByteArray::number(body.size(), 16).toUpper().rightJustified(3, '0') + body + "\r\n";
    }
    void Serve(QTcpSocket* socket)
    {
        auto buffer = std::make_shared<QByteArray>();
        auto stage = std::make_shared<int>(m_password.isEmpty() ? 2 : 0);  // login, password, statements
        if (*stage == 0) {
            socket->write("login:");
        }
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer, stage] {
            *buffer += socket->readAll();
            for (qsizetype lf; (lf = buffer->indexOf('\n')) >= 0;) {
                const QByteArray line = buffer->left(lf).trimmed();
                buffer->remove(0, lf + 1);
                if (*stage == 0) {
                    socket->write("password:");
                    ++*stage;
                } else if (*stage == 1) {
                    const bool ok = line == m_password;
                    socket->write(ok ? Frame("RE", "%%Logged in on /dev/tcp/a%") : Frame("ER", "{1,login}"));
                    ++*stage;
                } else {
                    Reply(socket, line);
                }
            }
        });
    }
    void Reply(QTcpSocket* socket, const QByteArray& statement)
    {
        const qsizetype close = statement.startsWith('%') ? statement.indexOf('%', 1) : -1;
        const QByteArray tag = close > 0 ? statement.left(close + 1) : QByteArray();
        const QByteArray command = statement.mid(tag.size());
        m_commands << command;
        const bool probe = command == "print,/par/rcv/model";
        const Rule rule = probe ? Rule{} : m_rule(command);
        const QByteArray frame = Frame("RE", tag + (probe ? "Test Rcv" : "1"));
        if (rule.answer == Answer::Close) {
            socket->disconnectFromHost();
        } else if (rule.answer == Answer::Value) {
            QTimer::singleShot(rule.delayMs, socket, [socket, frame] { socket->write(frame); });
        }
    }

    QTcpServer m_server;
    std::function<Rule(const QByteArray&)> m_rule;
    QByteArray m_password;
    QList<QByteArray> m_commands;
};

CScriptedPeer::Rule ByCommand(const QByteArray& command)
{
    using Answer = CScriptedPeer::Answer;
    if (command.contains("silent")) {
        return {Answer::Never};
    }
    if (command.contains("slow")) {
        return {Answer::Value, 1800};  // more than the link's default time-out
    }
    return {command.contains("drop") ? Answer::Close : Answer::Value};
}

TEST_F(RunnerEndToEndTest, SilentSlowOrLostReceiverEndsTheRunAsNoConnection)
{
    CScriptedPeer peer(ByCommand);
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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        WriteLatin1Script(m_dir.filePath("run.kvc"), c.script);
        const Result r = Run({"run.kvc"}, peer.Port());
        EXPECT_EQ(r.code, c.code) << r.err.toStdString();
        EXPECT_TRUE((c.code ? r.err : r.out).contains(c.shown)) << r.out.toStdString() << r.err.toStdString();
        EXPECT_FALSE(r.out.contains("not reached"));
        EXPECT_FALSE(r.err.contains("An error reply"));
    }
}

TEST_F(RunnerEndToEndTest, SignalsStopTheRunWithinASecond)
{
    CScriptedPeer peer(ByCommand);
    WriteLatin1Script(m_dir.filePath("wait.kvc"), "@timeout 60000\nprint,/par/silent\n");
    WriteLatin1Script(m_dir.filePath("nap.kvc"), "@echo napping\n@sleep 20000\n");
    for (const bool duringCommand : {true, false}) {
        SCOPED_TRACE(duringCommand ? "SIGTERM while a command waits" : "SIGINT in the last @sleep");
        QProcess run;
        QByteArray out;
        Start(run, {duringCommand ? "wait.kvc" : "nap.kvc"}, duringCommand ? peer.Port() : 0);
        Pump(run, &out, [&] { return duringCommand ? peer.Received("silent") : out.contains("napping"); });
        ASSERT_EQ(run.state(), QProcess::Running);
        ::kill(pid_t(run.processId()), duringCommand ? SIGTERM : SIGINT);
        const Result r = Finish(run, out);
        EXPECT_LT(r.ms, 1000);
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(r.err.contains("Aborted by user!")) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains("in time")) << "the run ended only by the watcher's last resort";
    }
}

TEST_F(RunnerEndToEndTest, PasswordAnswersTheTcpLogin)
{
    CScriptedPeer peer(ByCommand, "s3cret");
    WriteLatin1Script(m_dir.filePath("ok.kvc"), "print,/par/rcv/model\n");
    EXPECT_EQ(Run({"--password", "s3cret", "ok.kvc"}, peer.Port()).code, 0);
    const Result refused = Run({"--password", "wrong", "ok.kvc"}, peer.Port());
    EXPECT_EQ(refused.code, 2);
    EXPECT_TRUE(refused.err.contains("login")) << refused.err.toStdString();

    qputenv("NEMOLA_PASSWORD", "s3cret");
    const Result fromEnvironment = Run({"ok.kvc"}, peer.Port());
    qunsetenv("NEMOLA_PASSWORD");
    EXPECT_EQ(fromEnvironment.code, 0) << fromEnvironment.err.toStdString();
}

}  // namespace
