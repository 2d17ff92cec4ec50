// kvs2rin: converts a recorded receiver message stream (KVS) to a RINEX 3.04 observation file.
#include "rinex/Kvs2Rin.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString report;
    const int code = RunKvs2Rin(app.arguments().mid(1), &report);
    if (!report.isEmpty()) {
        std::fputs(report.toLocal8Bit().constData(), stderr);
    }
    return code;
}
