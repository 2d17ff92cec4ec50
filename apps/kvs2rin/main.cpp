// kvs2rin: converts a recorded receiver message stream (KVS) to a RINEX 3.04 observation file.
#include "rinex/Kvs2Rin.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        std::fputs(
            "usage: kvs2rin -i file.kvs [-o folder] [-p profile.ini] [-G] [-R] [-L1] [-L2] [--nav] [--overwrite]\n"
            "Writes the RINEX 3.04 observation file (and with --nav the navigation file) of a recording;\n"
            "an existing file of the same name is kept unless --overwrite is given.\n"
            "Exit codes: 0 ok, 1 cannot read, 2 not KVS, 3 data skipped, 10 bad time, 12 cannot write,\n"
            "13 no observations (nothing written), 255 invalid command line.\n",
            stdout);
        return 0;
    }
    QString report;
    const int code = RunKvs2Rin(args, &report);
    if (!report.isEmpty()) {
        std::fputs(report.toLocal8Bit().constData(), stderr);
    }
    return code;
}
