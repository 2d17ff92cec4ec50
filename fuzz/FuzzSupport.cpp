#include "FuzzSupport.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

FuzzEntry FindFuzzTarget(const std::string& name)
{
    static const struct
    {
        const char* name;
        FuzzEntry entry;
    } kTargets[] = {
        {"framer", FuzzFramer},       {"receiver", FuzzReceiver},     {"decoders", FuzzDecoders},
        {"script", FuzzScript},       {"toolkit", FuzzToolkit},       {"kvsreader", FuzzKvsReader},
        {"splitter", FuzzSplitter},   {"blocks", FuzzBlocks},         {"serverwire", FuzzServerWire},
        {"logengine", FuzzLogEngine}, {"setupcheck", FuzzSetupCheck}, {"opening", FuzzOpening},
    };
    for (const auto& t : kTargets) {
        if (name == t.name) {
            return t.entry;
        }
    }
    return nullptr;
}

void EnsureFuzzApplication()
{
    if (QCoreApplication::instance()) {
        return;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "nemola-fuzz";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives until exit, as in the program
}

void FuzzFail(const char* target, const std::string& why)
{
    std::fprintf(stderr, "fuzz target %s: %s\n", target, why.c_str());
    std::fflush(stderr);
    std::abort();
}

QByteArray CFuzzInput::Bytes(size_t n)
{
    const size_t take = std::min(n, m_size - std::min(m_pos, m_size));
    QByteArray out(reinterpret_cast<const char*>(m_data + m_pos), qsizetype(take));
    m_pos += take;
    return out;
}

QByteArray CFuzzInput::Text(int maxLength, const char* alphabet)
{
    const int n = Pick(maxLength + 1);
    const int letters = int(std::strlen(alphabet));
    QByteArray out;
    for (int i = 0; i < n && !Empty(); ++i) {
        out += alphabet[Byte() % letters];
    }
    return out;
}

QByteArray CFuzzInput::Rest()
{
    return Bytes(m_size);
}
