#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

class CProfile;

// Converting a finished recording to RINEX with the external converter (kvs2rin by default). UI-free: the logging
// run calls Start() for each finished file and shows the result text on its status line.

// Profile section "KVS2RIN".
struct RinexConverterSettings
{
    QString application;
    QString runBy, observer, agency, antNumber, antType, comment, markerName, markerNumber;
    bool noGps = false, noGlonass = false, noL1 = false, noL2 = false;
    bool deleteKvs = false;
    QString options;

    static RinexConverterSettings Load(const CProfile& profile);
    void Store(CProfile& profile) const;
};

// Where the converter is when the settings name none: our kvs2rin installed beside the running program (or in
// `programDir`), else the name the receiver maker's tool set uses.
QString DefaultConverterApplication();
QString DefaultConverterApplication(const QString& programDir);

// The connected receiver, as the header file names it.
struct RinexReceiverText
{
    QString number;  // "REC #"
    QString type;    // "REC TYPE"
};

// The header file "profile.ini".
QByteArray RinexProfileText(const RinexConverterSettings& s, const RinexReceiverText& receiver);

struct RinexCommand
{
    QString program;
    QStringList arguments;  // passed as a list, never through a shell
    QString commandLine;    // the same as one line, each path in double quotes (for the log and the user)
    QString profilePath;    // the header file to write first, empty when the options name their own ("-p")
};

// `kvsPath` is the finished file's absolute path; `folder` the folder it was recorded to, as configured (it may
// end with a separator).
RinexCommand BuildRinexCommand(const RinexConverterSettings& s, const QString& kvsPath, const QString& folder);

// "KVS to RINEX : Terminated with error code 2 (Not a KVS file format)"; empty for 0. 255 is -1 as a process
// exit status arrives on Linux.
QString ConverterExitMessage(int code);

struct RinexConversionJob
{
    RinexConverterSettings settings;
    RinexReceiverText receiver;
    QString kvsPath;  // absolute
    QString folder;
};

// One conversion, blocking: header file, converter run, DeleteKVS after a normal exit with code 0 only.
// Returns the result message (empty on success). Conversions running at once share a folder's header file: one
// whose header text differs waits until no converter reads the file before it replaces it.
// `abandon`, when given and set, kills the converter: its file is kept, as after any failed conversion.
QString RunRinexConversion(const RinexConversionJob& job, const std::atomic<bool>* abandon = nullptr);

// Runs conversions on threads of their own, several at once; each reports its result once.
class CRinexConversion : public QObject
{
    Q_OBJECT
public:
    // How long the destructor lets running conversions finish before it kills their converters.
    static constexpr int kExitGraceMs = 30000;

    explicit CRinexConversion(QObject* parent = nullptr, int exitGraceMs = kExitGraceMs);
    // Waits for the conversions still running, at most the grace time: a converter that hangs must not keep the
    // program from ending. A killed conversion deletes nothing.
    ~CRinexConversion() override;

    void Start(const RinexConversionJob& job);
    int Running() const { return m_running; }

signals:
    // On the thread of this object; `result` empty when the file was converted.
    void Finished(const QString& kvsPath, const QString& result);

private:
    int m_running = 0;
    int m_exitGraceMs;
    std::shared_ptr<std::atomic<bool>> m_abandon = std::make_shared<std::atomic<bool>>(false);
    QList<class QThread*> m_threads;
};
