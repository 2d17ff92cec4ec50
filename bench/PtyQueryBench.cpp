// The Positioning page's query over a simulated serial line paced like a USB serial adapter, pipelined as the
// link sends it and one line at a time as before, beside the time its bytes need on the line.
// Run: build/release/bench/bench_pty_query [rounds]
#include "link/Connection.h"
#include "link/Receiver.h"
#include "link/ReceiverName.h"
#include "sim/SimPty.h"
#include "sim/Simulator.h"

#include <QCoreApplication>
#include <QStringList>

#include <chrono>
#include <cstdio>

namespace {

// The Positioning page's own query.
const QStringList kLines = {"print,/par/pos/mode/cur",  "print,/par/pos/pd/reset",     "print,/par/pos/mode/sp",
                            "print,/par/pos/elm",       "print,/par/pos/pdop",         "print,/par/pos/sys",
                            "print,/par/pos/raim/mode", "print,/par/pos/raim/al/mode", "print,/par/pos/raim/al/manual",
                            "print,/par/pos/sp/meas",   "print,/par/lock/pcode",       "print,pos/sp/iono",
                            "print,pos/sp/tropo",       "print,/par/pos/mode/cd",      "print,/par/pos/mode/pf",
                            "print,/par/pos/mode/pd"};
// A private tag with its percent signs, as the link puts it in front of a statement and the receiver echoes it.
constexpr int kTagBytes = 7;

double Ms(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

void Run(int baud, int latencyMs, int rounds)
{
    SimOptions options;
    QString error;
    auto sim = CSimReceiver::Create(options, &error);
    CSimPty pty(sim);
    pty.SetLine(baud, latencyMs);
    if (!sim || !pty.Open(&error)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
        return;
    }
    CConnection connection;
    connection.Open(QString(), QString(), QString(), QStringLiteral("bench"));
    CReceiver receiver;
    if (!receiver.Open(&connection, SerialReceiverName(pty.SlavePath(), baud, false), 0)) {
        std::fprintf(stderr, "open: %s\n", qPrintable(receiver.GetReplyString()));
        return;
    }
    const QString batch = QStringLiteral("@scr stoperrors off\n") + kLines.join(QLatin1Char('\n')) + "\n@end\n";
    double pipelined = 0;
    double oneByOne = 0;
    qsizetype commandBytes = 0;
    qsizetype replyBytes = 0;
    for (const QString& line : kLines) {
        commandBytes += line.size() + kTagBytes + 2;
    }
    for (int round = 0; round < rounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        receiver.SendCommand(batch);
        pipelined += Ms(std::chrono::steady_clock::now() - start);
        replyBytes = receiver.GetReplyString().size() + kTagBytes * kLines.size();
        start = std::chrono::steady_clock::now();
        for (const QString& line : kLines) {
            receiver.SendCommand(line);
        }
        oneByOne += Ms(std::chrono::steady_clock::now() - start);
    }
    // Both directions share no wire, so the slower direction and one latency each way bound the query.
    const double busier = double(std::max(commandBytes, replyBytes)) * 10.0 * 1000.0 / baud;
    const double bound = busier + 2.0 * latencyMs;
    std::printf(
        "%6d baud, %d ms latency: %lld command bytes, %lld reply bytes; line-rate bound %.1f ms "
        "(busier direction %.1f ms + latency both ways)\n",
        baud, latencyMs, static_cast<long long>(commandBytes), static_cast<long long>(replyBytes), bound, busier);
    std::printf("    pipelined %.1f ms (%.2f x bound), one line at a time %.1f ms (%.2f x bound), %d rounds\n",
                pipelined / rounds, pipelined / rounds / bound, oneByOne / rounds, oneByOne / rounds / bound, rounds);
    receiver.Close();
    connection.Close();
    pty.Close();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    Run(115200, 2, rounds);
    Run(9600, 2, std::max(1, rounds / 5));
    return 0;
}
