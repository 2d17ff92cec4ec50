// The simulator behind real transports: TCP (with and without login), a pseudo-terminal opened as a serial
// port, and the nemola-sim program itself.

#include "SimTestUtil.h"

#include "link/Connection.h"
#include "link/Receiver.h"
#include "sim/SimPty.h"
#include "sim/SimTcpServer.h"
#include "sim/Simulator.h"

#include <QProcess>
#include <QTcpSocket>

#include <algorithm>
#include <chrono>
#include <cmath>

#include <gtest/gtest.h>

namespace {

QString Ask(CReceiver& r, const QString& command)
{
    r.SendCommand(command);
    return r.GetReplyString();
}

QString TcpName(quint16 port)
{
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

}  // namespace

TEST(SimTransportTest, TcpClientsGetTcpPortsOfTheirOwn)
{
    auto sim = std::make_shared<CSimReceiver>(VirtualSim());
    CSimTcpServer server(sim, false);
    QString error;
    ASSERT_TRUE(server.Listen(QHostAddress::LocalHost, 0, &error)) << error.toStdString();
    CConnection connection;
    connection.Open(QString(), QString(), QString(), QStringLiteral("Nemola-M"));
    CReceiver first, second;
    ASSERT_TRUE(first.Open(&connection, TcpName(server.Port()))) << first.GetReplyString().toStdString();
    ASSERT_TRUE(second.Open(&connection, TcpName(server.Port()))) << second.GetReplyString().toStdString();
    EXPECT_EQ(Ask(first, QStringLiteral("print,/cur/term")), QStringLiteral("RE00A/dev/tcp/a\r\n"));
    EXPECT_EQ(Ask(second, QStringLiteral("%x%print,/cur/term")), QStringLiteral("RE00D%x%/dev/tcp/b\r\n"));

    // A TCP port's message output ends with its connection.
    EXPECT_EQ(Ask(first, QStringLiteral("%%em,,kvs/RT:1")), QStringLiteral("RE002%%\r\n"));
    EXPECT_EQ(sim->EnabledMessages(QStringLiteral("/dev/tcp/a")).size(), 1);
    first.Close();
    EXPECT_TRUE(PumpUntil([&] { return sim->SessionCount() == 1; }));
    EXPECT_TRUE(sim->EnabledMessages(QStringLiteral("/dev/tcp/a")).isEmpty());
}

TEST(SimTransportTest, TcpLoginAsksForThePassword)
{
    auto sim = std::make_shared<CSimReceiver>(VirtualSim());
    CSimTcpServer server(sim, true);
    QString error;
    ASSERT_TRUE(server.Listen(QHostAddress::LocalHost, 0, &error)) << error.toStdString();

    // A wrong password is refused (the right one lets the program in: see the nemola-sim program's test).
    CConnection bad;
    bad.Open(QString(), QStringLiteral("user"), QStringLiteral("guess"), QStringLiteral("Nemola-M"));
    CReceiver refused;
    EXPECT_FALSE(refused.Open(&bad, TcpName(server.Port())));
    EXPECT_TRUE(refused.GetReplyString().contains(QStringLiteral("refused"))) << refused.GetReplyString().toStdString();

    // By hand: a port letter picks the port.
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, server.Port());
    ASSERT_TRUE(socket.waitForConnected(5000));
    QByteArray seen;
    auto readUntil = [&](const QByteArray& text) {
        while (!seen.contains(text)) {
            if (!socket.waitForReadyRead(5000)) {
                return false;
            }
            seen += socket.readAll();
        }
        return true;
    };
    ASSERT_TRUE(readUntil("login:"));
    EXPECT_TRUE(seen.startsWith('#'));
    socket.write("c\r\n");
    ASSERT_TRUE(readUntil("password:"));
    socket.write("sim\r\n%p%print,/cur/term\r\n");
    ASSERT_TRUE(readUntil("%p%/dev/tcp/c"));
    EXPECT_TRUE(seen.contains("RE019%Logged in on /dev/tcp/c%\r\n"));
}

// A real-time receiver's epochs leave when their time comes: its second starts on the clock's second, not when
// it was started. On a busy machine (a sanitizer run beside other tests) a thread may wake late now and then:
// half of the epochs must arrive within 20 ms after the time they carry, and none before it.
TEST(SimTransportTest, EpochsArriveOnTheirTime)
{
    auto sim = std::make_shared<CSimReceiver>(SimOptions{});
    CSimTcpServer server(sim, false);
    QString error;
    ASSERT_TRUE(server.Listen(QHostAddress::LocalHost, 0, &error)) << error.toStdString();
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, server.Port());
    ASSERT_TRUE(socket.waitForConnected(5000));
    socket.write("em,,kvs/RT:0.02\r\n");  // 50 epochs a second
    std::vector<double> late;             // ms after the epoch's time (UTC is the receiver's GPS time less 18 s)
    QByteArray pending;
    while (late.size() < 100 && socket.waitForReadyRead(2000)) {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        const double arrived = double(std::chrono::duration_cast<std::chrono::microseconds>(now).count() % 86400000000);
        pending += socket.readAll();
        const qsizetype end = pending.lastIndexOf('\n');
        for (const RawFrame& f : SplitFrames(pending.left(end + 1))) {
            if (f.id == "~~" && f.verified) {
                const double d = arrived / 1000 - (double(U4(f.body)) - 18000);
                late.push_back(d - std::round(d / 86400000) * 86400000);
            }
        }
        pending.remove(0, end + 1);
    }
    ASSERT_EQ(late.size(), 100u);
    std::sort(late.begin(), late.end());
    EXPECT_GE(late.front(), -3.0) << "an epoch went out before its time";
    EXPECT_LE(late[50], 20.0) << "three quarters within " << late[75];
}

TEST(SimTransportTest, PseudoTerminalServesAsSerialPortThroughResetsUntilTheSimulatorCloses)
{
    auto sim = std::make_shared<CSimReceiver>(VirtualSim());
    CSimPty pty(sim);
    QString error;
    ASSERT_TRUE(pty.Open(&error)) << error.toStdString();
    ASSERT_TRUE(pty.SlavePath().startsWith(QStringLiteral("/dev/"))) << pty.SlavePath().toStdString();
    CConnection connection;
    connection.Open(QString(), QString(), QString(), QStringLiteral("Nemola-M"));
    CLinkLostCounter lost(connection);
    CReceiver receiver;
    ASSERT_TRUE(receiver.Open(&connection, pty.SlavePath() + QStringLiteral(":115200")))
        << receiver.GetReplyString().toStdString();
    EXPECT_EQ(Ask(receiver, QStringLiteral("print,/cur/term")), QStringLiteral("RE00A/dev/ser/a\r\n"));

    // Opened again, the line works again.
    receiver.Close();
    ASSERT_TRUE(receiver.Open(&connection, pty.SlavePath() + QStringLiteral(":115200")))
        << receiver.GetReplyString().toStdString();
    EXPECT_EQ(Ask(receiver, QStringLiteral("%%set,/par/pos/elm,9")), QStringLiteral("RE002%%\r\n"));

    // A serial line has no connection to lose: after a reset the receiver is just silent until it is back.
    EXPECT_EQ(Ask(receiver, QStringLiteral("%%set,reset,yes")), QStringLiteral("RE002%%\r\n"));
    sim->AdvanceTime(100);
    connection.SetTimeout(5);
    EXPECT_EQ(receiver.SendCommand(QStringLiteral("print,/cur/term")), 0);
    sim->AdvanceTime(sim->Options().rebootMs);
    EXPECT_TRUE(PumpUntil([&] { return sim->SessionCount() == 1; }));
    connection.SetTimeout(75);
    EXPECT_EQ(Ask(receiver, QStringLiteral("print,/cur/term")), QStringLiteral("RE00A/dev/ser/a\r\n"));
    EXPECT_EQ(lost.Count(), 0);

    // The hang-up is noticed by itself, and the next command fails at once instead of waiting out its minute
    // of silence.
    pty.Close();
    EXPECT_TRUE(PumpUntil([&] { return lost.Count() == 1; })) << "the link did not report the line going away";
    connection.SetTimeout(3000);
    EXPECT_EQ(receiver.SendCommand(QStringLiteral("print,/par/pos/elm")), 0);
    EXPECT_TRUE(receiver.GetReplyString().contains(QStringLiteral("Link lost")))
        << receiver.GetReplyString().toStdString();
}

// Over a line paced like a slow serial cable, a pipelined query gets what one line at a time gets, error slot
// included.
TEST(SimTransportTest, PacedLineGivesPipelinedBatchesTheOneByOneOutcome)
{
    auto sim = std::make_shared<CSimReceiver>(VirtualSim());
    CSimPty pty(sim);
    pty.SetLine(19200, 2);
    QString error;
    ASSERT_TRUE(pty.Open(&error)) << error.toStdString();
    CConnection connection;
    connection.Open(QString(), QString(), QString(), QStringLiteral("Nemola-M"));
    CReceiver receiver;
    ASSERT_TRUE(receiver.Open(&connection, pty.SlavePath() + QStringLiteral(":19200")))
        << receiver.GetReplyString().toStdString();
    QStringList lines;
    for (int i = 0; i < 12; ++i) {
        lines << QStringLiteral("print,/par/pos/elm") << QStringLiteral("print,/cur/term")
              << QStringLiteral("print,/par/no/such/%1").arg(i);
    }
    QString oneByOne;
    for (const QString& line : lines) {
        oneByOne += Ask(receiver, line);
    }
    EXPECT_EQ(Ask(receiver, QStringLiteral("@scr stoperrors off\n") + lines.join(QLatin1Char('\n')) + "\n@end\n"),
              oneByOne);
    EXPECT_EQ(oneByOne.count(QLatin1String("\r\nER")), 12);
}

TEST(SimTransportTest, SimulatorProgramServesTcpUntilTerminated)
{
    QProcess sim;
    const quint16 port = StartTcpSim(sim, NEMOLA_SIM_EXECUTABLE, {"--profile", "basic", "--login"});
    ASSERT_NE(port, 0);

    CConnection connection;
    connection.Open(QString(), QString(), QStringLiteral("sim"), QStringLiteral("Nemola-M"));
    CReceiver receiver;
    ASSERT_TRUE(receiver.Open(&connection, TcpName(port))) << receiver.GetReplyString().toStdString();
    EXPECT_EQ(Ask(receiver, QStringLiteral("print,/par/rcv/model")), QStringLiteral("RE008Vireo-B1\r\n"));
    receiver.Close();

    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(10000));
    EXPECT_EQ(sim.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(sim.exitCode(), 0);

    QProcess wrong;
    wrong.start(QStringLiteral(NEMOLA_SIM_EXECUTABLE),
                {QStringLiteral("--tcp"), QStringLiteral("0"), QStringLiteral("--profile"), QStringLiteral("deluxe")});
    ASSERT_TRUE(wrong.waitForFinished(10000));
    EXPECT_NE(wrong.exitCode(), 0);
    EXPECT_TRUE(wrong.readAllStandardError().contains("deluxe"));
}
